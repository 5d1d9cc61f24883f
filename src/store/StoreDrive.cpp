#include "store/Store.h"

#include "common/Files.h"

#include <algorithm>
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

// Entries of a folder whose names begin with the prefix, in name order.
std::vector<fs::path> entriesStartingWith(const fs::path& folder, std::string_view prefix)
{
    std::vector<fs::path> found;
    std::error_code error;
    fs::directory_iterator entry(folder, error);
    while (!error && entry != fs::directory_iterator()) {
        if (entry->path().filename().string().starts_with(prefix))
            found.push_back(entry->path());
        entry.increment(error);
    }
    std::sort(found.begin(), found.end());
    return found;
}

}

fs::path Store::docsRoot() const
{
    // A relative or empty setting would put documents wherever the program happened to start.
    if (const auto configured = configString("docsRoot"); configured && fs::path(*configured).is_absolute())
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

    // Where Linux users keep a synchronised Google Drive: the usual rclone and
    // google-drive-ocamlfuse mount points, Insync's folder per account, and the drives of
    // GNOME Online Accounts that GVfs mounts.
    for (const char* mountPoint : { "GoogleDrive", "google-drive" })
        candidates.push_back(driveRoot(m_location.home / mountPoint));
    for (const fs::path& account : entriesStartingWith(m_location.home / "Insync", ""))
        candidates.push_back(account / "Google Drive");
    if (!m_location.runtime.empty()) {
        for (const fs::path& mount : entriesStartingWith(m_location.runtime / "gvfs", "google-drive:"))
            candidates.push_back(driveRoot(mount));
    }

    for (const fs::path& candidate : candidates) {
        if (isFolder(candidate))
            return candidate;
    }
    return std::nullopt;
}

Json Store::connectDrive(const std::string& path)
{
    const fs::path base = fs::path(path) / "Quillpost";
    const fs::path backups = base / "Backups";
    const fs::path clients = base / "Clients";
    std::error_code ignored;
    fs::create_directories(backups, ignored);
    fs::create_directories(clients, ignored);

    m_config["drive"] = path;
    m_config["backupFolder"] = backups.string();
    m_config["docsRoot"] = clients.string();
    saveConfig();

    // The drive gets its first copy of the data now rather than at the next save.
    if (auto bytes = readFile(data()))
        scheduleBackup(std::move(*bytes));
    return Json { { "drive", path }, { "backupFolder", backups.string() }, { "docsRoot", clients.string() } };
}

}
