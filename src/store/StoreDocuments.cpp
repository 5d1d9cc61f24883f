#include "store/Store.h"

#include "common/Files.h"
#include "common/Utf8.h"
#include "platform/BackgroundQueue.h"
#include "store/AtomicFile.h"
#include "store/Containment.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

constexpr size_t nameCharacters = 80;
// File names are limited to 255 bytes; this leaves room for " (999)" and a six-letter extension.
constexpr size_t nameBytes = 200;
constexpr int listingDepth = 3;
// Namesakes a client folder may be told apart from; past this something is wrong with the folder.
constexpr int mostNumberedFolders = 10000;

size_t sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    return 2;
}

std::uint32_t codePoint(std::string_view text, size_t at, size_t length)
{
    const auto byte = [&](size_t index) { return static_cast<unsigned char>(text[at + index]); };
    switch (length) {
    case 1:
        return byte(0);
    case 2:
        return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
    case 3:
        return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    default:
        return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
    }
}

bool isRemoved(std::uint32_t character)
{
    switch (character) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return true;
    default:
        // C0 controls, and DEL and the C1 controls, which are no more printable.
        return character < 0x20 || (character >= 0x7F && character <= 0x9F && character != 0x85);
    }
}

// Reads at most limit bytes and one more, so that a file that grew past the limit after its size
// was checked is still found out.
Store::PageRead readCapped(int fd, std::uint64_t limit)
{
    Store::PageRead read;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return {};
        if (!count) {
            read.outcome = Store::PageRead::Outcome::Read;
            return read;
        }
        if (read.bytes.size() + static_cast<size_t>(count) > limit)
            return { Store::PageRead::Outcome::TooLarge, {} };
        read.bytes.append(buffer, static_cast<size_t>(count));
    }
}

Store::PageRead readFileBelow(const fs::path& root, const fs::path& realPath, std::uint64_t limit)
{
    // O_NONBLOCK: a named pipe put in the folder must not hang the reader waiting for a writer.
    const FileDescriptor file = openBelow(root, realPath, O_RDONLY | O_NONBLOCK);
    struct stat information {};
    if (!file || ::fstat(file.get(), &information) || !S_ISREG(information.st_mode))
        return {};
    if (static_cast<std::uint64_t>(information.st_size) > limit)
        return { Store::PageRead::Outcome::TooLarge, {} };
    return readCapped(file.get(), limit);
}

bool isWhiteSpace(std::uint32_t character)
{
    return character == ' ' || character == 0x85 || character == 0xA0 || character == 0x1680 || (character >= 0x2000 && character <= 0x200A)
        || character == 0x2028 || character == 0x2029 || character == 0x202F || character == 0x205F || character == 0x3000;
}

}

std::string Store::safeName(std::optional<std::string_view> name)
{
    if (!name)
        return "Untitled";
    const std::string text = validUtf8(*name);

    // Unsafe characters go, and each run of white space becomes one space.
    std::string cleaned;
    bool inSpace = false;
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequenceLength(static_cast<unsigned char>(text[at]));
        const std::uint32_t character = codePoint(text, at, length);
        if (isRemoved(character)) {
            at += length;
            continue;
        }
        if (isWhiteSpace(character)) {
            if (!inSpace)
                cleaned += ' ';
            inSpace = true;
        } else {
            cleaned.append(text, at, length);
            inSpace = false;
        }
        at += length;
    }

    const size_t first = cleaned.find_first_not_of(' ');
    if (first == std::string::npos)
        return "Untitled";
    cleaned = cleaned.substr(first, cleaned.find_last_not_of(' ') - first + 1);
    // A leading full stop would hide the file, and "." and ".." are not names at all.
    // Spaces the dots stood in front of go too, so a name never starts with one.
    const size_t visible = cleaned.find_first_not_of(". ");
    if (visible == std::string::npos)
        return "Untitled";
    cleaned.erase(0, visible);

    size_t end = 0;
    for (size_t characters = 0; end < cleaned.size() && characters < nameCharacters; ++characters) {
        const size_t length = sequenceLength(static_cast<unsigned char>(cleaned[end]));
        if (end + length > nameBytes)
            break;
        end += length;
    }
    cleaned.resize(end);
    // A cut at a space would leave one at the end.
    while (cleaned.back() == ' ')
        cleaned.pop_back();
    return cleaned;
}

std::string Store::safeFile(std::string_view name)
{
    // The last path component: anything before a slash is a folder, not part of the name.
    while (name.size() > 1 && name.back() == '/')
        name.remove_suffix(1);
    if (const size_t slash = name.rfind('/'); slash != std::string_view::npos && name.size() > 1)
        name.remove_prefix(slash + 1);

    std::string_view base = name;
    std::string extension;
    if (const size_t dot = name.rfind('.'); dot != std::string_view::npos && dot > 0) {
        base = name.substr(0, dot);
        for (char character : name.substr(dot + 1)) {
            if (extension.size() == 6)
                break;
            if (std::isalnum(static_cast<unsigned char>(character)) && static_cast<unsigned char>(character) < 0x80)
                extension += static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
        }
    }
    const std::string safeBase = safeName(base);
    return extension.empty() ? safeBase : safeBase + "." + extension;
}

fs::path Store::folder(std::string_view client, std::optional<std::string_view> sub) const
{
    fs::path result = docsRoot() / safeName(client);
    if (sub && !sub->empty())
        result /= safeName(*sub);
    return result;
}

fs::path Store::uniquePath(const fs::path& dir, const std::string& name)
{
    std::error_code error;
    fs::path candidate = dir / name;
    if (!fs::exists(fs::symlink_status(candidate, error)))
        return candidate;

    const fs::path namePath(name);
    const std::string extension = namePath.has_extension() && namePath.stem() != "" ? namePath.extension().string() : "";
    const std::string base = name.substr(0, name.size() - extension.size());
    for (int number = 2;; ++number) {
        candidate = dir / (base + " (" + std::to_string(number) + ")" + extension);
        if (!fs::exists(fs::symlink_status(candidate, error)))
            return candidate;
    }
}

std::string Store::numberedName(const std::string& base, int number)
{
    const std::string suffix = " (" + std::to_string(number) + ")";
    // Whole characters within safeName's limits, so that the number is never cut off.
    size_t end = 0;
    for (size_t characters = 0; end < base.size() && characters + suffix.size() < nameCharacters; ++characters) {
        const size_t length = sequenceLength(static_cast<unsigned char>(base[end]));
        if (end + length + suffix.size() > nameBytes)
            break;
        end += length;
    }
    std::string shortened = base.substr(0, end);
    while (!shortened.empty() && shortened.back() == ' ')
        shortened.pop_back();
    return (shortened.empty() ? std::string("Untitled") : shortened) + suffix;
}

std::optional<std::string> Store::claimClientFolder(std::string_view client, const std::vector<std::string>& held, bool create, std::error_code& error) const
{
    error.clear();
    std::set<std::string> taken;
    for (const std::string& name : held)
        taken.insert(safeName(name));
    const std::string base = safeName(client);
    const fs::path root = docsRoot();
    const FileDescriptor rootFolder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFolder) {
        if (create)
            error = lastSystemError();
        return std::nullopt;
    }

    // A folder filed under the client's name before folders were remembered: theirs, unless
    // another client holds it already. A link there is no client's folder.
    struct stat information {};
    if (!taken.contains(base) && ::fstatat(rootFolder.get(), base.c_str(), &information, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(information.st_mode))
        return base;
    if (!create)
        return std::nullopt;

    // mkdir makes a folder only where nothing is, so a folder that appears meanwhile (another
    // window, a sync) is never taken as new.
    for (int number = 1; number <= mostNumberedFolders; ++number) {
        const std::string candidate = number == 1 ? base : numberedName(base, number);
        if (taken.contains(candidate))
            continue;
        if (::mkdirat(rootFolder.get(), candidate.c_str(), 0777) == 0)
            return candidate;
        if (errno != EEXIST) {
            error = lastSystemError();
            return std::nullopt;
        }
    }
    error = std::make_error_code(std::errc::file_exists);
    return std::nullopt;
}

std::optional<fs::path> Store::resolveDocument(const std::string& path) const
{
    return resolveInside(docsRoot(), fs::path(path));
}

bool Store::inside(const std::string& path) const
{
    return resolveDocument(path).has_value();
}

std::string Store::pageReadLimitMessage(std::uint64_t limit)
{
    return "This file is larger than " + std::to_string(limit >> 20) + " MB, the most Quillpost reads in one piece, so it wasn't opened. The file is unchanged.";
}

void Store::readBelow(fs::path root, fs::path realPath, std::function<void(PageRead)> done, std::uint64_t limit) const
{
    m_services.backgroundQueue.async([root = std::move(root), realPath = std::move(realPath), done = std::move(done), limit, &mainQueue = m_services.mainQueue]() mutable {
        PageRead read = readFileBelow(root, realPath, limit);
        // The answer, and the reply it carries, belong to the main thread.
        mainQueue.post([done = std::move(done), read = std::move(read)]() mutable { done(std::move(read)); });
    });
}

std::vector<Store::DocumentEntry> Store::documents(const fs::path& clientFolder) const
{
    std::vector<DocumentEntry> entries;
    walkDocuments(clientFolder, "", 0, entries);
    std::stable_sort(entries.begin(), entries.end(), [](const DocumentEntry& first, const DocumentEntry& second) {
        return first.modified > second.modified;
    });
    return entries;
}

namespace {

std::vector<std::string> clientFolderNames(std::string_view client, std::optional<std::string_view> sub)
{
    std::vector<std::string> names { Store::safeName(client) };
    if (sub && !sub->empty())
        names.push_back(Store::safeName(sub));
    return names;
}

}

bool Store::makeClientFolder(std::string_view client, std::optional<std::string_view> sub) const
{
    return static_cast<bool>(makeFoldersBelow(docsRoot(), clientFolderNames(client, sub)));
}

fs::path Store::fileDocument(std::string_view client, std::optional<std::string_view> sub, std::string_view fileName, std::string_view bytes) const
{
    const fs::path clientFolder = folder(client, sub);
    const FileDescriptor folderDescriptor = makeFoldersBelow(docsRoot(), clientFolderNames(client, sub));
    if (!folderDescriptor)
        throw FileError(describeFileFailure("create the folder", clientFolder, lastSystemError()));

    // The name is taken only if nothing has it by the time the file is created, so a document
    // that appeared meanwhile (a sync, a second window) is never written over.
    const std::string name = safeFile(fileName);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const fs::path target = uniquePath(clientFolder, name);
        const FileDescriptor file(::openat(folderDescriptor.get(), target.filename().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!file && errno == EEXIST)
            continue;
        if (!file)
            throw FileError(describeFileFailure("write", target, lastSystemError()));
        if (const auto error = writeAll(file.get(), bytes)) {
            // Half a document is worse than none: it would look saved.
            ::unlinkat(folderDescriptor.get(), target.filename().c_str(), 0);
            throw FileError(describeFileFailure("write", target, error), error);
        }
        return target;
    }
    throw FileError(describeFileFailure("write", clientFolder / name, std::make_error_code(std::errc::file_exists)));
}

void Store::walkDocuments(const fs::path& folder, const std::string& relative, int depth, std::vector<DocumentEntry>& entries) const
{
    std::vector<std::string> names = namesInFolder(folder);
    // Names in a steady order, so that files of the same minute list the same way each time.
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        if (name.starts_with("."))
            continue;
        const fs::path path = folder / name;
        // A link is listed as itself and never walked into: a listing stays inside the folder it lists.
        struct stat information {};
        const bool readable = ::lstat(path.c_str(), &information) == 0;
        if (readable && S_ISDIR(information.st_mode)) {
            if (depth < listingDepth)
                walkDocuments(path, relative.empty() ? name : relative + "/" + name, depth + 1, entries);
            continue;
        }
        DocumentEntry document;
        document.name = name;
        document.path = path.string();
        document.folder = relative;
        document.size = readable && S_ISREG(information.st_mode) ? static_cast<std::uint64_t>(information.st_size) : 0;
        const auto modified = readable ? Clock::TimePoint(std::chrono::duration_cast<Clock::TimePoint::duration>(std::chrono::seconds(information.st_mtim.tv_sec) + std::chrono::nanoseconds(information.st_mtim.tv_nsec)))
                                       : m_services.clock.now();
        document.modified = isoTime(modified);
        entries.push_back(std::move(document));
    }
}

}
