#include "platform/SiteFolder.h"

#include "common/Hex.h"
#include "common/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <map>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

// Percent escapes decoded; nothing when an escape is malformed or the result is not UTF-8.
std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        int high = hexDigitValue(text[i + 1]);
        int low = hexDigitValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    if (validUtf8(decoded) != decoded)
        return std::nullopt;
    return decoded;
}

// The path with every link followed, of something that exists.
std::optional<std::string> realPath(const fs::path& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string text(resolved);
    std::free(resolved);
    return text;
}

// Opens a file beneath the folder in one step when no link lies on its way. Anything else (a
// link, a kernel or sandbox without openat2) answers nothing and takes the route through realpath.
FileDescriptor openWithoutLinks(int folder, const std::string& relative)
{
#ifdef SYS_openat2
    if (folder < 0 || relative.empty())
        return {};
    open_how how {};
    how.flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return FileDescriptor(static_cast<int>(::syscall(SYS_openat2, folder, relative.c_str(), &how, sizeof how)));
#else
    (void)folder;
    (void)relative;
    return {};
#endif
}

}

SiteFolder::SiteFolder(Root root, std::string_view contentSecurityPolicy)
    : m_root(std::move(root))
    , m_contentSecurityPolicy(contentSecurityPolicy)
{
}

SchemeResponse SiteFolder::response(int status, std::string contentType, std::string body) const
{
    SchemeResponse answer;
    answer.status = status;
    answer.contentType = std::move(contentType);
    answer.headers["Content-Length"] = std::to_string(body.size());
    answer.body = std::move(body);
    if (answer.contentType == "text/html")
        answer.headers["Content-Security-Policy"] = m_contentSecurityPolicy;
    return answer;
}

bool SiteFolder::isDocumentOf(std::string_view url, std::string_view origin)
{
    const bool prefixed = url.size() >= origin.size()
        && std::equal(origin.begin(), origin.end(), url.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
    if (!prefixed || origin.empty())
        return false;
    auto rest = url.substr(origin.size());
    return rest.empty() || rest.front() == '/' || rest.front() == '?' || rest.front() == '#';
}

std::string SiteFolder::mimeType(std::string_view extension)
{
    static const std::map<std::string, std::string, std::less<>> types {
        { "html", "text/html" },
        { "js", "text/javascript" },
        { "wasm", "application/wasm" },
        { "txt", "text/plain" },
        { "css", "text/css" },
        { "svg", "image/svg+xml" },
        { "png", "image/png" },
        { "woff2", "font/woff2" },
    };
    std::string lower(extension);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto type = types.find(lower);
    return type == types.end() ? "application/octet-stream" : type->second;
}

std::optional<std::string> SiteFolder::pathOf(std::string_view url)
{
    auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    for (char c : url.substr(0, colon)) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return std::nullopt;
    }
    std::string_view rest = url.substr(colon + 1);
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        auto slash = rest.find('/');
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    return percentDecoded(rest).value_or(std::string(rest));
}

SchemeResponse SiteFolder::answer(const std::string& path) const
{
    const ResolvedRoot* root = resolvedRoot();
    if (!root)
        return response(404, "text/plain", "not found");

    std::string relative = percentDecoded(path).value_or(path);
    auto first = relative.find_first_not_of('/');
    relative = first == std::string::npos ? std::string() : relative.substr(first, relative.find_last_not_of('/') - first + 1);
    if (relative.empty())
        relative = "index.html";
    // A NUL would end the path early at the system call.
    if (relative.find('\0') != std::string::npos)
        return response(404, "text/plain", "not found");

    const std::string asked = (fs::path(*root->real) / relative).lexically_normal().string();
    std::string rootPrefix = *root->real;
    rootPrefix.push_back('/');
    // O_NONBLOCK: a FIFO planted in the site must not hang the main thread on open.
    std::optional<std::string> file;
    FileDescriptor descriptor;
    if (asked.starts_with(rootPrefix)) {
        descriptor = openWithoutLinks(root->folder.get(), asked.substr(rootPrefix.size()));
        if (descriptor)
            file = asked;
    }
    if (!descriptor) {
        file = realPath(asked);
        if (!file || !file->starts_with(rootPrefix))
            return response(404, "text/plain", "not found");
        descriptor = FileDescriptor(::open(file->c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    }
    struct stat status {};
    if (!descriptor || ::fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return response(404, "text/plain", "not found");
    // O_NONBLOCK stays: it changes nothing for a regular file.

    auto extension = fs::path(*file).extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    SchemeResponse answer = response(200, mimeType(extension), {});
    answer.bodyFileLength = static_cast<std::uint64_t>(status.st_size);
    answer.headers["Content-Length"] = std::to_string(answer.bodyFileLength);
    answer.bodyFile = std::move(descriptor);
    return answer;
}

const SiteFolder::ResolvedRoot* SiteFolder::resolvedRoot() const
{
    // The root is resolved and opened again only when the site in use changes, or its folder is
    // gone or another one now stands at its path.
    const std::string root = fs::path(m_root()).lexically_normal().string();
    struct stat now {};
    const bool same = root == m_resolvedRoot.asked && m_resolvedRoot.real && m_resolvedRoot.folder
        && ::stat(m_resolvedRoot.real->c_str(), &now) == 0 && now.st_dev == m_resolvedRoot.device && now.st_ino == m_resolvedRoot.inode;
    if (!same) {
        m_resolvedRoot = ResolvedRoot { root, realPath(root), {}, 0, 0 };
        if (m_resolvedRoot.real) {
            m_resolvedRoot.folder = FileDescriptor(::open(m_resolvedRoot.real->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            struct stat opened {};
            if (m_resolvedRoot.folder && ::fstat(m_resolvedRoot.folder.get(), &opened) == 0) {
                m_resolvedRoot.device = opened.st_dev;
                m_resolvedRoot.inode = opened.st_ino;
            } else {
                m_resolvedRoot.folder = {};
            }
        }
    }
    return m_resolvedRoot.real ? &m_resolvedRoot : nullptr;
}

}
