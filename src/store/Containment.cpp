#include "store/Containment.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> realLocation(const fs::path& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return std::nullopt;
    return fs::path(resolved);
}

// A path's names, without the root, empty names (doubled or trailing slashes) and ".".
std::vector<std::string> namesOf(const fs::path& path)
{
    std::vector<std::string> names;
    for (const auto& element : path.relative_path()) {
        const std::string name = element.string();
        if (name.empty() || name == ".")
            continue;
        names.push_back(name);
    }
    return names;
}

}

std::optional<fs::path> resolveInside(const fs::path& root, const fs::path& path)
{
    const std::string& text = path.native();
    if (text.empty() || !path.is_absolute() || text.find('\0') != std::string::npos)
        return std::nullopt;
    if (root.native().find('\0') != std::string::npos)
        return std::nullopt;
    const auto realRoot = realLocation(root);
    if (!realRoot)
        return std::nullopt;

    // Only names that exist can be links; once a name is missing, the rest is plain text, but
    // a ".." may lead back to folders that exist, so every step looks again.
    fs::path current("/");
    for (const std::string& name : namesOf(path)) {
        if (name == "..") {
            current = current.parent_path();
            continue;
        }
        fs::path next = current / name;
        struct stat information {};
        if (::lstat(next.c_str(), &information) == 0 && S_ISLNK(information.st_mode)) {
            auto target = realLocation(next);
            if (!target)
                return std::nullopt;
            next = std::move(*target);
        }
        current = std::move(next);
    }

    const auto rootNames = namesOf(*realRoot);
    const auto targetNames = namesOf(current);
    if (targetNames.size() <= rootNames.size())
        return std::nullopt;
    for (size_t index = 0; index < rootNames.size(); ++index) {
        if (rootNames[index] != targetNames[index])
            return std::nullopt;
    }
    return current;
}

std::optional<fs::path> locateItemInside(const fs::path& root, const fs::path& path)
{
    if (!path.is_absolute() || path.native().find('\0') != std::string::npos)
        return std::nullopt;
    const fs::path normal = path.lexically_normal();
    const fs::path relative = normal.lexically_relative(root.lexically_normal());
    std::vector<std::string> names;
    for (const auto& element : relative)
        names.push_back(element.string());
    if (names.size() < 2 || names.front() == ".." || names.back().empty() || names.back() == "." || names.back() == "..")
        return std::nullopt;

    // The top folder the path names below root, itself no link out of it, must hold the item's
    // folder once that is resolved: a link to another client's folder leads out of it.
    const fs::path top = root / names.front();
    const auto realTop = resolveInside(root, top);
    if (!realTop)
        return std::nullopt;
    std::optional<fs::path> folder = realTop;
    if (names.size() > 2)
        folder = resolveInside(*realTop, *realTop / normal.parent_path().lexically_relative(top));
    if (!folder)
        return std::nullopt;
    fs::path item = *folder / names.back();
    struct stat information {};
    if (::lstat(item.c_str(), &information) != 0)
        return std::nullopt;
    return item;
}

FileDescriptor openBelow(const fs::path& root, const fs::path& realPath, int flags, unsigned mode)
{
    const auto realRoot = realLocation(root);
    if (!realRoot)
        return {};
    const auto rootNames = namesOf(*realRoot);
    const auto names = namesOf(realPath);
    if (names.size() <= rootNames.size() || !std::equal(rootNames.begin(), rootNames.end(), names.begin())) {
        errno = EPERM;
        return {};
    }
    FileDescriptor folder(::open(realRoot->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        return {};
    for (size_t index = rootNames.size(); index + 1 < names.size(); ++index) {
        FileDescriptor next(::openat(folder.get(), names[index].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next)
            return {};
        folder = std::move(next);
    }
    return FileDescriptor(::openat(folder.get(), names.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
}

FileDescriptor makeFoldersBelow(const fs::path& root, const std::vector<std::string>& names)
{
    FileDescriptor folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const std::string& name : names) {
        if (!folder)
            return {};
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
            errno = EINVAL;
            return {};
        }
        if (::mkdirat(folder.get(), name.c_str(), 0777) != 0 && errno != EEXIST)
            return {};
        folder = FileDescriptor(::openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return folder;
}

}
