#include "updates/UpdateInstaller.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Json.h"
#include "common/JsonText.h"
#include "net/Deployment.h"
#include "store/Store.h"
#include "updates/Appcast.h"
#include "updates/InstallManifest.h"
#include "updates/UpdateArchive.h"

#include <unistd.h>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

bool onlyOurs(const fs::path& tree)
{
    return !InstallManifest::whyNotOnlyOurs(tree);
}

// Removes a tree only when it holds nothing but Quillpost.
void removeOurTree(const fs::path& tree)
{
    std::error_code error;
    if (fs::exists(fs::symlink_status(tree, error)) && onlyOurs(tree))
        fs::remove_all(tree, error);
}

}

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
    // The version comes from the feed: as part of a name it is one component that can't lead
    // anywhere else.
    std::string name = ".";
    name.append(m_prefix.filename().string()).append("-update-");
    for (char c : version.substr(0, InstallManifest::maximumVersionLength)) {
        bool safe = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '_' || c == '-';
        name.push_back(safe ? c : '-');
    }
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
    return sharedFolder();
}

std::optional<std::string> UpdateInstaller::sharedFolder() const
{
    auto why = InstallManifest::whyNotOnlyOurs(m_prefix);
    if (!why)
        return std::nullopt;
    return "This copy of Quillpost can't update itself, because its folder \u201c" + m_prefix.string()
        + "\u201d may be shared with other software (" + *why + "), and an update replaces the whole folder. "
        + "Download the new version from " + Deployment::releasesPageURL + ".";
}

UpdateInstaller::Staged UpdateInstaller::stage(std::string_view archive, std::string_view announcedVersion, std::string_view runningVersion) const
{
    auto folder = stagingFolder(announcedVersion);
    std::error_code error;
    // What an interrupted earlier attempt left in the staging folder.
    fs::remove_all(folder, error);
    UpdateArchive::unpack(archive, folder);
    auto refuse = [&folder](const std::string& why) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        throw FileError(why);
    };
    auto tree = UpdateArchive::findTree(folder);
    if (!tree)
        refuse("The update doesn't hold a Quillpost installation.");
    // The manifest is inside the signed archive, so the version it names is the maker's word.
    std::string problem;
    auto manifest = InstallManifest::read(*tree, problem);
    if (!manifest)
        refuse("The update doesn't say which version it holds (" + problem + "), so it was thrown away.");
    if (auto stranger = manifest->strangerIn(*tree))
        refuse("The update holds \u201c" + *stranger + "\u201d, which its own list of files doesn't name, so it was thrown away.");
    if (compareVersions(manifest->version, runningVersion) <= 0)
        refuse("The update holds Quillpost " + manifest->version + ", which isn't newer than this " + std::string(runningVersion)
            + ", so it was refused as a downgrade.");
    if (manifest->version != announcedVersion)
        refuse("The update holds Quillpost " + manifest->version + ", not the " + std::string(announcedVersion) + " its feed announced, so it was thrown away.");
    return { folder, *tree, manifest->version };
}

void UpdateInstaller::swapIn(const Staged& staged, std::string_view fromVersion) const
{
    std::error_code error;
    // The folder is checked again right before anything moves: it may have changed since the check.
    if (auto reason = sharedFolder()) {
        fs::remove_all(staged.folder, error);
        throw FileError(*reason);
    }
    auto previous = previousTree();
    removeOurTree(previous);
    if (fs::exists(fs::symlink_status(previous, error))) {
        fs::remove_all(staged.folder, error);
        throw FileError("The update can't move the current version aside, because \u201c" + previous.string() + "\u201d is in the way and isn't Quillpost's alone.");
    }
    fs::rename(m_prefix, previous, error);
    if (error)
        throw FileError("The update can't move the current version aside: " + error.message() + ".", error);
    fs::rename(staged.tree, m_prefix, error);
    if (error) {
        std::error_code restored;
        fs::rename(previous, m_prefix, restored);
        throw FileError("The update can't put the new version in place: " + error.message() + ".", error);
    }
    // The staging folder may have wrapped the tree in a folder of its own.
    fs::remove_all(staged.folder, error);
    Json note { { "from", std::string(fromVersion) }, { "to", staged.version }, { "starts", 0 } };
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
    // Only a tree of ours goes back into the program's place.
    if (!fs::is_directory(fs::symlink_status(previous, error)) || !onlyOurs(previous))
        return false;
    auto failed = m_prefix;
    failed += ".failed";
    removeOurTree(failed);
    fs::rename(m_prefix, failed, error);
    if (error)
        return false;
    fs::rename(previous, m_prefix, error);
    if (error) {
        std::error_code restored;
        fs::rename(failed, m_prefix, restored);
        return false;
    }
    removeOurTree(failed);
    return true;
}

std::optional<std::string> UpdateInstaller::commit() const
{
    std::error_code error;
    if (!fs::exists(trialNote(), error))
        return std::nullopt;
    std::optional<std::string> kept;
    auto previous = previousTree();
    if (fs::exists(fs::symlink_status(previous, error))) {
        if (auto why = InstallManifest::whyNotOnlyOurs(previous))
            kept = "the previous version in " + previous.string() + " was kept, because " + *why;
        else
            fs::remove_all(previous, error);
    }
    fs::remove(trialNote(), error);
    return kept;
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
