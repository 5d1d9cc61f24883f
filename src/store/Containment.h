#pragma once

#include <filesystem>
#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace quillpost {

// An open file descriptor, closed when it goes out of scope.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    FileDescriptor(FileDescriptor&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    FileDescriptor& operator=(FileDescriptor&&) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd { -1 };
};

// The real location of path (every ".", ".." and symbolic link resolved, one component at a time,
// so that a ".." after a link climbs out of the link's target, as the kernel would) when it lies
// strictly below the real location of root; nothing otherwise. Relative paths, paths holding a
// NUL, dangling or looping links, and the root itself are never inside.
std::optional<std::filesystem::path> resolveInside(const std::filesystem::path& root, const std::filesystem::path& path);

// Opens a path that resolveInside gave, starting at the root and walking down one folder at a
// time without following links: a link swapped in after the check makes the open fail (ELOOP or
// ENOTDIR) instead of leading out of the root. O_NOFOLLOW and O_CLOEXEC are added to flags.
FileDescriptor openBelow(const std::filesystem::path& root, const std::filesystem::path& realPath, int flags, unsigned mode = 0);

// Opens root, then each named folder below it in turn, creating those that are missing; a link
// in place of a folder makes it fail with ELOOP rather than be followed. Sets errno on failure.
FileDescriptor makeFoldersBelow(const std::filesystem::path& root, const std::vector<std::string>& names);

}
