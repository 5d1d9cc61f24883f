#include "store/AtomicFile.h"

#include "common/Error.h"
#include "common/Files.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <utility>
#include <unistd.h>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

fs::path folderOf(const fs::path& path)
{
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

// Temporary names are "." + the destination's name + "." + six letters or digits, the form
// mkostemp gives, so that removeStaleTemporaryFiles recognises every one of them.
constexpr size_t suffixLength = 6;

fs::path temporaryTemplate(const fs::path& destination)
{
    return folderOf(destination) / ("." + destination.filename().string() + ".XXXXXX");
}

fs::path randomTemporaryName(const fs::path& destination)
{
    static constexpr std::string_view letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 generator { std::random_device {}() };
    std::uniform_int_distribution<size_t> pick(0, letters.size() - 1);
    std::string name = "." + destination.filename().string() + ".";
    for (size_t index = 0; index < suffixLength; ++index)
        name += letters[pick(generator)];
    return folderOf(destination) / name;
}

[[noreturn]] void fail(std::string_view action, const fs::path& path, const std::error_code& error)
{
    throw FileError(describeFileFailure(action, path, error), error);
}

bool isTemporaryName(std::string_view name)
{
    // ".data.json.Ab3xYz": a dot, the name of a file this program writes, a dot and six letters or digits.
    if (name.size() < 2 + suffixLength + 1 || name.front() != '.')
        return false;
    const std::string_view suffix = name.substr(name.size() - suffixLength);
    for (const char character : suffix) {
        if (!std::isalnum(static_cast<unsigned char>(character)))
            return false;
    }
    if (name[name.size() - suffixLength - 1] != '.')
        return false;
    const std::string_view destination = name.substr(1, name.size() - suffixLength - 2);
    return destination.ends_with(".json") || destination.ends_with(".json.bak");
}

}

std::error_code writeAll(int descriptor, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return lastSystemError();
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return {};
}

PendingFile::PendingFile(fs::path destination, fs::path temporary)
    : m_destination(std::move(destination))
    , m_temporary(std::move(temporary))
{
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : m_destination(std::move(other.m_destination))
    , m_temporary(std::exchange(other.m_temporary, {}))
{
}

PendingFile::~PendingFile()
{
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
}

PendingFile PendingFile::write(const fs::path& destination, std::string_view bytes)
{
    const fs::path folder = folderOf(destination);
    std::error_code folderError;
    fs::create_directories(folder, folderError);
    if (folderError)
        fail("create the folder", folder, folderError);

    std::string temporary = temporaryTemplate(destination).string();
    // mkostemp creates the file 0600: the data is the practice's private client data.
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0)
        fail("write", destination, lastSystemError());
    PendingFile pending(destination, temporary);

    std::error_code error = writeAll(descriptor, bytes);
    if (!error && ::fsync(descriptor))
        error = lastSystemError();
    if (::close(descriptor) && !error)
        error = lastSystemError();
    if (error)
        fail("write", destination, error);
    return pending;
}

void PendingFile::commit()
{
    if (::rename(m_temporary.c_str(), m_destination.c_str()))
        fail("write", m_destination, lastSystemError());
    m_temporary.clear();
    syncFolder(folderOf(m_destination));
}

void linkOrCopy(const fs::path& source, const fs::path& destination)
{
    if (!::link(source.c_str(), destination.c_str())) {
        syncFolder(folderOf(destination));
        return;
    }
    const std::error_code linkError = lastSystemError();
    if (linkError == std::errc::file_exists)
        fail("keep a copy at", destination, linkError);
    // FAT and some network file systems have no hard links.
    const std::string bytes = readFileOrFail(source);
    PendingFile copy = PendingFile::write(destination, bytes);
    std::error_code error;
    if (fs::exists(destination, error))
        fail("keep a copy at", destination, std::make_error_code(std::errc::file_exists));
    copy.commit();
}

void replaceWithLink(const fs::path& source, const fs::path& destination)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path temporary = randomTemporaryName(destination);
        if (::link(source.c_str(), temporary.c_str())) {
            if (errno == EEXIST)
                continue;
            break;
        }
        if (::rename(temporary.c_str(), destination.c_str())) {
            const std::error_code error = lastSystemError();
            ::unlink(temporary.c_str());
            fail("write", destination, error);
        }
        syncFolder(folderOf(destination));
        return;
    }
    PendingFile copy = PendingFile::write(destination, readFileOrFail(source));
    copy.commit();
}

namespace {

int (*s_folderSync)(int descriptor) = ::fsync;

}

void setFolderSyncForTesting(int (*sync)(int descriptor))
{
    s_folderSync = sync ? sync : ::fsync;
}

void syncFolder(const fs::path& folder)
{
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    const int result = s_folderSync(descriptor);
    const std::error_code error = result ? lastSystemError() : std::error_code();
    ::close(descriptor);
    // Some file systems do not sync folders at all and say so with EINVAL; that is no failure of ours.
    if (result && error != std::errc::invalid_argument)
        throw FolderSyncError(describeFileFailure("save the folder", folder, error), error);
}

void removeStaleTemporaryFiles(const fs::path& folder)
{
    std::error_code error;
    for (fs::directory_iterator entry(folder, error); !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        std::error_code ignored;
        if (isTemporaryName(name) && entry->is_regular_file(ignored))
            fs::remove(entry->path(), ignored);
    }
}

}
