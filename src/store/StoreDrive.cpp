#include "store/Store.h"

#include "common/Files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/stat.h>

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

// Whether path lies in folder, by their names as written.
bool isWithin(const fs::path& path, const fs::path& folder)
{
    const fs::path normalPath = path.lexically_normal();
    const fs::path normalFolder = folder.lexically_normal();
    auto names = normalPath.begin();
    for (auto name = normalFolder.begin(); name != normalFolder.end(); ++name, ++names) {
        if (name->empty() && std::next(name) == normalFolder.end())
            break;
        if (names == normalPath.end() || *names != *name)
            return false;
    }
    return true;
}

}

std::optional<Store::DocsRootProblem> Store::makeDocsRoot() const
{
    const fs::path root = docsRoot();
    if (isFolder(root))
        return std::nullopt;

    const auto configured = configString("docsRoot");
    if (!configured || fs::path(*configured) != root) {
        // The default folder's first use: it is made with whatever it needs above it.
        std::error_code error;
        fs::create_directories(root, error);
        if (error)
            return DocsRootProblem { DocsRootProblem::Kind::NotMade, describeFileFailure("create the folder", root, error) };
        return std::nullopt;
    }

    // A folder that was chosen, or made in a drive, and is gone now: where its own folder is
    // missing, so is the drive or disk it was on (a drive's mount point stays behind, empty).
    // Nothing is made in its place, where documents would never reach the drive.
    const auto drive = configString("drive");
    const bool onDrive = drive && !drive->empty() && isWithin(root, *drive);
    if (isFolder(root.parent_path()) && (!onDrive || isFolder(*drive))) {
        if (::mkdir(root.c_str(), 0777) != 0 && errno != EEXIST)
            return DocsRootProblem { DocsRootProblem::Kind::NotMade, describeFileFailure("create the folder", root, lastSystemError()) };
        if (isFolder(root))
            return std::nullopt;
        return DocsRootProblem { DocsRootProblem::Kind::NotMade, describeFileFailure("create the folder", root, std::make_error_code(std::errc::not_a_directory)) };
    }
    if (onDrive) {
        return DocsRootProblem { DocsRootProblem::Kind::Unavailable, "Quillpost can't reach its documents folder in your Google Drive (\"" + root.string()
            + "\"): the drive isn't available. It may not be mounted, running or signed in. Nothing was put there; once the drive is back, try again." };
    }
    return DocsRootProblem { DocsRootProblem::Kind::Unavailable, "Quillpost can't find its documents folder \"" + root.string()
        + "\": it was moved or deleted, or it is on a disk that isn't connected. Nothing was put there; connect the disk and try again, or choose the documents folder in Settings." };
}

bool Store::onMissingDrive(const fs::path& folder) const
{
    const auto drive = configString("drive");
    if (!drive || drive->empty() || !isWithin(folder, *drive))
        return false;
    return !isFolder(folder) && !isFolder(folder.parent_path());
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
