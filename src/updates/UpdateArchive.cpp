#include "updates/UpdateArchive.h"

#include "common/Error.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace quillpost::UpdateArchive {

namespace fs = std::filesystem;

namespace {

using Reader = std::unique_ptr<struct archive, decltype(&archive_read_free)>;

Reader open(std::string_view bytes)
{
    Reader reader(archive_read_new(), archive_read_free);
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_filter_xz(reader.get());
    archive_read_support_format_tar(reader.get());
    if (archive_read_open_memory(reader.get(), bytes.data(), bytes.size()) != ARCHIVE_OK)
        return Reader(nullptr, archive_read_free);
    return reader;
}

// The entry's relative path with "./" parts dropped, or why it is refused.
std::optional<std::string> entryProblem(struct archive_entry* entry, fs::path& relative)
{
    const char* name = archive_entry_pathname(entry);
    if (!name || !*name)
        return std::string("an entry has no name");
    std::string_view text(name);
    if (text.front() == '/')
        return "an entry has an absolute name: " + std::string(text);
    relative.clear();
    for (auto& part : fs::path(text)) {
        if (part == "..")
            return "an entry leaves the folder: " + std::string(text);
        if (part != "." && !part.empty())
            relative /= part;
    }
    auto type = archive_entry_filetype(entry);
    if (archive_entry_hardlink(entry) || type == AE_IFLNK)
        return "the archive holds a link: " + std::string(text);
    if (type != AE_IFREG && type != AE_IFDIR)
        return "the archive holds something that is neither a file nor a folder: " + std::string(text);
    return std::nullopt;
}

template<typename Visit>
std::optional<std::string> walk(std::string_view bytes, Visit visit)
{
    auto reader = open(bytes);
    if (!reader)
        return std::string("the archive can't be read");
    struct archive_entry* entry = nullptr;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        fs::path relative;
        if (auto why = entryProblem(entry, relative))
            return why;
        if (auto why = visit(reader.get(), entry, relative))
            return why;
    }
    if (status != ARCHIVE_EOF)
        return "the archive is damaged (" + std::string(archive_error_string(reader.get()) ? archive_error_string(reader.get()) : "unreadable") + ")";
    return std::nullopt;
}

}

std::optional<std::string> problem(std::string_view bytes)
{
    bool any = false;
    auto why = walk(bytes, [&any](struct archive* reader, struct archive_entry*, const fs::path&) -> std::optional<std::string> {
        any = true;
        // Reading the data too finds damage in the compressed stream, not only in the headers.
        const void* block;
        size_t size;
        la_int64_t offset;
        int status;
        while ((status = archive_read_data_block(reader, &block, &size, &offset)) == ARCHIVE_OK) { }
        if (status != ARCHIVE_EOF)
            return std::string("the archive is damaged");
        return std::nullopt;
    });
    if (!why && !any)
        return std::string("the archive is empty");
    return why;
}

void unpack(std::string_view bytes, const fs::path& folder)
{
    if (auto why = problem(bytes))
        throw FileError("The update can't be unpacked: " + *why + ".");
    std::error_code error;
    if (!fs::create_directory(folder, error))
        throw FileError("The update can't be unpacked: " + folder.string() + " can't be made.");
    auto why = walk(bytes, [&folder](struct archive* reader, struct archive_entry* entry, const fs::path& relative) -> std::optional<std::string> {
        if (relative.empty())
            return std::nullopt;
        auto target = folder / relative;
        std::error_code made;
        fs::create_directories(archive_entry_filetype(entry) == AE_IFDIR ? target : target.parent_path(), made);
        if (made)
            return "a folder can't be made: " + made.message();
        if (archive_entry_filetype(entry) == AE_IFDIR)
            return std::nullopt;
        // Executables keep their execute bits; nothing gets set-id bits or write access for others.
        auto mode = (archive_entry_perm(entry) & 0755) | 0600;
        int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0)
            return "a file can't be written: " + relative.string();
        int status = archive_read_data_into_fd(reader, fd);
        bool synced = ::fsync(fd) == 0;
        ::close(fd);
        if (status != ARCHIVE_OK || !synced)
            return "a file can't be written: " + relative.string();
        return std::nullopt;
    });
    if (why) {
        fs::remove_all(folder, error);
        throw FileError("The update can't be unpacked: " + *why + ".");
    }
}

std::optional<fs::path> findTree(const fs::path& folder)
{
    auto holdsTree = [](const fs::path& candidate) {
        std::error_code error;
        return fs::is_regular_file(fs::symlink_status(candidate / "bin" / "quillpost", error))
            && fs::is_regular_file(fs::symlink_status(candidate / "share" / "quillpost" / "app" / "index.html", error));
    };
    if (holdsTree(folder))
        return folder;
    std::error_code error;
    for (auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.is_directory(error) && !entry.is_symlink(error) && holdsTree(entry.path()))
            return entry.path();
    }
    return std::nullopt;
}

}
