#include "updates/UpdateInstaller.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Json.h"
#include "common/JsonText.h"
#include "store/Store.h"
#include "updates/UpdateArchive.h"

#include <unistd.h>

namespace quillpost {

namespace fs = std::filesystem;

UpdateInstaller::UpdateInstaller(fs::path prefix)
    : m_prefix(std::move(prefix))
{
}

fs::path UpdateInstaller::previousTree() const
{
    auto name = m_prefix.filename().string();
    return m_prefix.parent_path() / ("." + name + "-previous");
}

fs::path UpdateInstaller::stagingFolder(std::string_view version) const
{
    std::string name = ".";
    name.append(m_prefix.filename().string()).append("-update-").append(version);
    return m_prefix.parent_path() / name;
}

fs::path UpdateInstaller::trialNote() const
{
    return m_prefix / "share" / "quillpost" / ".update-trial.json";
}

std::optional<std::string> UpdateInstaller::cannotInstall() const
{
    std::error_code error;
    if (fs::exists(m_prefix / "CMakeCache.txt", error))
        return std::string("This copy of Quillpost runs from its build folder; updates install only into an installed copy.");
    auto parent = m_prefix.parent_path();
    bool systemFolder = m_prefix == "/usr" || m_prefix == "/usr/local" || m_prefix == "/opt" || m_prefix == "/";
    if (systemFolder || ::access(m_prefix.c_str(), W_OK) != 0 || ::access(parent.c_str(), W_OK) != 0)
        return std::string("Quillpost was installed by your system's package manager, so its updates come from there: "
                           "use Software, or run \u201csudo apt update && sudo apt upgrade\u201d.");
    return std::nullopt;
}

fs::path UpdateInstaller::stage(std::string_view archive, std::string_view version) const
{
    auto folder = stagingFolder(version);
    std::error_code error;
    fs::remove_all(folder, error);
    UpdateArchive::unpack(archive, folder);
    auto tree = UpdateArchive::findTree(folder);
    if (!tree) {
        fs::remove_all(folder, error);
        throw FileError("The update doesn't hold a Quillpost installation.");
    }
    return *tree;
}

void UpdateInstaller::swapIn(const fs::path& stagedTree, std::string_view fromVersion, std::string_view toVersion) const
{
    std::error_code error;
    auto previous = previousTree();
    fs::remove_all(previous, error);
    fs::rename(m_prefix, previous, error);
    if (error)
        throw FileError("The update can't move the current version aside: " + error.message() + ".", error);
    fs::rename(stagedTree, m_prefix, error);
    if (error) {
        std::error_code restored;
        fs::rename(previous, m_prefix, restored);
        throw FileError("The update can't put the new version in place: " + error.message() + ".", error);
    }
    // The staging folder may have wrapped the tree in a folder of its own.
    auto staging = stagingFolder(toVersion);
    fs::remove_all(staging, error);
    Json note { { "from", std::string(fromVersion) }, { "to", std::string(toVersion) }, { "starts", 0 } };
    try {
        Store::atomicWrite(trialNote(), note.dump());
    } catch (const FileError&) {
        // Without the note the new version is kept without a trial; the previous one stays until
        // the next update replaces it.
    }
}

bool UpdateInstaller::rollBack() const
{
    std::error_code error;
    auto previous = previousTree();
    if (!fs::is_directory(previous, error))
        return false;
    auto failed = m_prefix;
    failed += ".failed";
    fs::remove_all(failed, error);
    fs::rename(m_prefix, failed, error);
    if (error)
        return false;
    fs::rename(previous, m_prefix, error);
    if (error) {
        std::error_code restored;
        fs::rename(failed, m_prefix, restored);
        return false;
    }
    fs::remove_all(failed, error);
    return true;
}

void UpdateInstaller::commit() const
{
    std::error_code error;
    if (!fs::exists(trialNote(), error))
        return;
    fs::remove_all(previousTree(), error);
    fs::remove(trialNote(), error);
}

UpdateInstaller::StartOutcome UpdateInstaller::atStart() const
{
    auto text = readFile(trialNote());
    if (!text)
        return StartOutcome::Normal;
    Json note = parseJsonText(*text);
    int starts = note.is_object() && note.value("starts", Json()).is_number_integer() ? note["starts"].get<int>() : allowedTrialStarts;
    if (starts >= allowedTrialStarts)
        return rollBack() ? StartOutcome::RolledBack : StartOutcome::Normal;
    note["starts"] = starts + 1;
    try {
        Store::atomicWrite(trialNote(), note.dump());
    } catch (const FileError&) {
        return StartOutcome::Normal;
    }
    return StartOutcome::Trying;
}

}
