#include "store/Store.h"

#include "common/Error.h"
#include "common/Files.h"
#include "store/DocumentCheck.h"
#include "store/SealedForm.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillpost {

namespace {

constexpr const char* backupName = "Quillpost-backup.json";

// An open folder, closed when it goes out of scope.
class Folder {
public:
    Folder(int at, const char* path, int flags)
        : m_descriptor(::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags))
    {
    }
    ~Folder()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    bool isOpen() const { return m_descriptor >= 0; }
    int descriptor() const { return m_descriptor; }

    std::vector<std::string> names() const
    {
        std::vector<std::string> result;
        const int copy = ::dup(m_descriptor);
        if (copy < 0)
            return result;
        DIR* listing = ::fdopendir(copy);
        if (!listing) {
            ::close(copy);
            return result;
        }
        while (const dirent* entry = ::readdir(listing))
            result.emplace_back(entry->d_name);
        ::closedir(listing);
        return result;
    }

private:
    int m_descriptor;
};

std::optional<std::string> readDescriptor(int descriptor)
{
    std::string bytes;
    char buffer[65536];
    while (true) {
        const ssize_t count = ::read(descriptor, buffer, sizeof(buffer));
        if (count == 0)
            return bytes;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<size_t>(count));
    }
}

struct Entry {
    dev_t device { 0 };
    ino_t inode { 0 };
    bool plain { false };
};

// Whether the entry directly in the folder is a copy anyone can read. A link is never followed:
// a restore would read through it, so it counts as readable and goes as a link. A file this
// program can't open can't be shown to be encrypted either.
std::optional<Entry> judge(int folder, const std::string& name)
{
    struct stat information {};
    if (::fstatat(folder, name.c_str(), &information, AT_SYMLINK_NOFOLLOW))
        return std::nullopt;
    if (S_ISLNK(information.st_mode))
        return Entry { information.st_dev, information.st_ino, true };
    if (!S_ISREG(information.st_mode))
        return std::nullopt;

    Entry entry { information.st_dev, information.st_ino, true };
    const int descriptor = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0)
        return entry;
    struct stat opened {};
    std::optional<std::string> bytes;
    if (!::fstat(descriptor, &opened) && opened.st_dev == entry.device && opened.st_ino == entry.inode)
        bytes = readDescriptor(descriptor);
    ::close(descriptor);
    if (bytes)
        entry.plain = !holdsNothing(*bytes) && !isSealedDocument(*bytes);
    return entry;
}

}

template<typename Visit>
void Store::visitKeptCopies(Visit&& visit) const
{
    // The data folder is wherever the user keeps it; below it nothing is reached through a link.
    const Folder data(AT_FDCWD, m_dir.c_str(), 0);
    if (data.isOpen()) {
        visit(data.descriptor(), std::string("data.json.bak"), "data");
        const Folder snapshots(data.descriptor(), "snapshots", O_NOFOLLOW);
        for (const std::string& name : snapshots.isOpen() ? snapshots.names() : std::vector<std::string> {}) {
            if (isKeptCopyName(name))
                visit(snapshots.descriptor(), name, "snapshots");
        }
    }

    if (const auto folder = configString("backupFolder")) {
        const Folder backup(AT_FDCWD, folder->c_str(), 0);
        if (backup.isOpen())
            visit(backup.descriptor(), std::string(backupName), "backup");
    }
}

std::vector<Store::PlainCopy> Store::plainCopies() const
{
    std::vector<PlainCopy> copies;
    visitKeptCopies([&copies](int folder, const std::string& name, const char* place) {
        const auto entry = judge(folder, name);
        if (entry && entry->plain)
            copies.push_back({ name, place });
    });
    return copies;
}

size_t Store::removePlainCopies()
{
    const auto current = readFile(data());
    if (!current || !isSealedDocument(*current))
        throw QuillpostError(3, "Quillpost didn't remove any copies, because your data file itself isn't encrypted. Nothing was changed.");

    size_t removed = 0;
    bool backupRemoved = false;
    visitKeptCopies([&](int folder, const std::string& name, const char* place) {
        const auto entry = judge(folder, name);
        if (!entry || !entry->plain)
            return;
        // The backup job may have put the encrypted copy in its place meanwhile; that one stays.
        struct stat now {};
        if (::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) || now.st_dev != entry->device || now.st_ino != entry->inode)
            return;
        if (::unlinkat(folder, name.c_str(), 0))
            return;
        ::fsync(folder);
        ++removed;
        backupRemoved = backupRemoved || std::string_view(place) == "backup";
    });

    // The backup folder gets its copy back at once, encrypted, rather than at the next save.
    if (backupRemoved)
        scheduleBackup(*current);
    return removed;
}

}
