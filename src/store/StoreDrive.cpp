#include "store/Store.h"

#include <array>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

bool isFolder(const fs::path& path)
{
    std::error_code ignored;
    return fs::is_directory(path, ignored);
}

// The Google Drive client names its root after the account's language.
fs::path driveRoot(const fs::path& entry)
{
    static constexpr std::array rootNames { "My Drive", "Mon disque", "Mi unidad", "Meine Ablage" };
    for (const char* rootName : rootNames) {
        if (isFolder(entry / rootName))
            return entry / rootName;
    }
    return entry;
}

}

fs::path Store::docsRoot() const
{
    if (const auto configured = configString("docsRoot"))
        return fs::path(*configured);
    if (m_location.directoryOverridden)
        return m_dir / "Clients";
    return m_location.documents / "Quillpost" / "Clients";
}

std::optional<fs::path> Store::detectDrive() const
{
    std::vector<fs::path> candidates;

    std::error_code error;
    fs::directory_iterator entry(m_location.home / "Library" / "CloudStorage", error);
    while (!error && entry != fs::directory_iterator()) {
        if (entry->path().filename().string().starts_with("GoogleDrive"))
            candidates.push_back(driveRoot(entry->path()));
        entry.increment(error);
    }
    candidates.push_back(m_location.home / "Google Drive" / "My Drive");
    candidates.push_back(m_location.home / "Google Drive");

    for (const fs::path& candidate : candidates) {
        if (isFolder(candidate))
            return candidate;
    }
    return std::nullopt;
}

}
