#include "store/Store.h"

#include "common/Error.h"
#include "common/Files.h"

#include <regex>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

bool parsesAsDocument(const std::string& bytes)
{
    const Json document = Json::parse(bytes, nullptr, false);
    return document.is_object() || document.is_array();
}

// A version as part of a file name: word characters, "." and "-" only.
std::string cleanVersion(std::string_view version)
{
    static const std::regex unsafe(R"([^A-Za-z0-9_.-])");
    return std::regex_replace(std::string(version), unsafe, "");
}

}

void Store::safetyCopyOnNewVersion()
{
    const std::string& running = m_location.version;
    const auto previous = configString("lastVersion");
    if (previous == running)
        return;

    if (const auto bytes = readFile(data())) {
        try {
            atomicWrite(snapshotsDir() / ("before-update-" + (previous ? cleanVersion(*previous) : "first") + "-to-" + cleanVersion(running) + "-" + milliseconds() + ".json"), *bytes);
        } catch (const FileError&) {
            // A safety copy is best effort; the start goes on.
        }
    }
    m_config["lastVersion"] = running;
    if (!m_configUnreadable)
        saveConfig();
}

bool Store::safetyCopyBeforeUpdate(std::string_view incomingVersion)
{
    const auto bytes = readFile(data());
    if (!bytes)
        return true;
    if (!parsesAsDocument(*bytes))
        return false;

    const fs::path copy = snapshotsDir() / ("before-update-" + cleanVersion(m_location.version) + "-to-" + cleanVersion(incomingVersion) + "-" + milliseconds() + ".json");
    try {
        atomicWrite(copy, *bytes);
    } catch (const FileError&) {
        return false;
    }
    return readFile(copy) == bytes;
}

bool Store::betaIsNewer() const
{
    if (m_location.directoryOverridden)
        return false;
    if (m_config.contains("betaChecked"))
        return false;
    const auto beta = modificationTime(m_location.betaDataFile);
    if (!beta)
        return false;
    const auto ours = modificationTime(data());
    if (!ours)
        return true;
    return *beta > *ours;
}

void Store::adoptBetaData(bool use)
{
    m_config["betaChecked"] = use ? "used-beta" : "kept-main";
    saveConfig();
    if (!use)
        return;

    const auto beta = readFile(m_location.betaDataFile);
    if (!beta || !parsesAsDocument(*beta))
        return;
    // Our data is only replaced once a copy of it is safe: without one it would be lost.
    if (const auto ours = readFile(data())) {
        try {
            atomicWrite(snapshotsDir() / ("before-restore-" + milliseconds() + ".json"), *ours);
        } catch (const FileError&) {
            return;
        }
    }
    try {
        atomicWrite(data(), *beta);
        m_wholeDataFile = FileIdentity::of(data());
    } catch (const FileError&) {
        // Our data stays as it was.
    }
}

}
