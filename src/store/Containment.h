#pragma once

#include "common/FileDescriptor.h"

#include <filesystem>
#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace quillpost {

// The real location of path (every ".", ".." and symbolic link resolved, one component at a time,
// so that a ".." after a link climbs out of the link's target, as the kernel would) when it lies
// strictly below the real location of root; nothing otherwise. Relative paths, paths holding a
// NUL, dangling or looping links, and the root itself are never inside.
std::optional<std::filesystem::path> resolveInside(const std::filesystem::path& root, const std::filesystem::path& path);

// The location of the item path names, its last name taken as it is (a link there is the link
// itself, not what it points at), when the item exists and lies in a folder below root: the
// folder the path names directly below root (a client's folder) or one inside it, once resolved.
// Nothing otherwise. For acting on a listed item as listed.
std::optional<std::filesystem::path> locateItemInside(const std::filesystem::path& root, const std::filesystem::path& path);

// Opens a path that resolveInside gave, starting at the root and walking down one folder at a
// time without following links: a link swapped in after the check makes the open fail (ELOOP or
// ENOTDIR) instead of leading out of the root. O_NOFOLLOW and O_CLOEXEC are added to flags.
FileDescriptor openBelow(const std::filesystem::path& root, const std::filesystem::path& realPath, int flags, unsigned mode = 0);

// Opens root, then each named folder below it in turn, creating those that are missing; a link
// in place of a folder makes it fail with ELOOP rather than be followed. Sets errno on failure.
FileDescriptor makeFoldersBelow(const std::filesystem::path& root, const std::vector<std::string>& names);

}
