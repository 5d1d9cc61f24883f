#include "common/Files.h"

#include "common/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillpost {

std::string describeFileFailure(std::string_view action, const std::filesystem::path& path, const std::error_code& error)
{
    return "Couldn't " + std::string(action) + " \"" + path.string() + "\": " + error.message() + ".";
}

std::error_code lastSystemError()
{
    return std::error_code(errno, std::generic_category());
}

std::vector<std::string> namesInFolder(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entry(folder, error);
    while (!error && entry != std::filesystem::directory_iterator()) {
        names.push_back(entry->path().filename().string());
        entry.increment(error);
    }
    return names;
}

std::optional<std::string> readFile(const std::filesystem::path& path)
{
    try {
        return readFileOrFail(path);
    } catch (const FileError&) {
        return std::nullopt;
    }
}

std::string readFileOrFail(const std::filesystem::path& path)
{
    // O_NONBLOCK so that a named pipe left where a file belongs reads as empty instead of hanging.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        const std::error_code error = lastSystemError();
        throw FileError(describeFileFailure("read", path, error), error);
    }

    const auto fail = [&] {
        const std::error_code error = lastSystemError();
        ::close(descriptor);
        throw FileError(describeFileFailure("read", path, error), error);
    };

    // A regular file is read straight into its string; what a file that grew meanwhile has more
    // follows in chunks.
    std::string bytes;
    struct stat information {};
    if (!::fstat(descriptor, &information) && S_ISREG(information.st_mode))
        bytes.resize(static_cast<size_t>(information.st_size));
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t count = ::read(descriptor, bytes.data() + filled, bytes.size() - filled);
        if (count > 0)
            filled += static_cast<size_t>(count);
        else if (!count)
            break;
        else if (errno != EINTR)
            fail();
    }
    const bool shorter = filled < bytes.size();
    bytes.resize(filled);
    if (shorter) {
        ::close(descriptor);
        return bytes;
    }

    char buffer[64 * 1024];
    while (true) {
        const ssize_t count = ::read(descriptor, buffer, sizeof(buffer));
        if (!count)
            break;
        if (count > 0) {
            bytes.append(buffer, static_cast<size_t>(count));
            continue;
        }
        if (errno == EINTR)
            continue;
        fail();
    }
    ::close(descriptor);
    return bytes;
}

}
