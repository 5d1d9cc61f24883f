#pragma once

#include "common/FileDescriptor.h"
#include "platform/WebView.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// A folder of a site served over one of the program's schemes: a file is answered only when it
// lies strictly below the folder once links are followed, and HTML carries the site's policy.
class SiteFolder {
public:
    // Asked afresh for every request, so a scheme follows the folder in use.
    using Root = std::function<std::filesystem::path()>;

    SiteFolder(Root root, std::string_view contentSecurityPolicy);

    // The file at this decoded path ("/" and "" are index.html); 404 for anything else.
    SchemeResponse answer(const std::string& path) const;

    // A complete answer from memory; HTML gets the site's policy.
    SchemeResponse response(int status, std::string contentType, std::string body) const;

    // The MIME type served for a file extension (any case).
    static std::string mimeType(std::string_view extension);

    // Whether a URL names a document of this origin ("scheme://host"): the origin followed by its
    // path or nothing, letters in any case; a longer host, a port or credentials are another origin.
    static bool isDocumentOf(std::string_view url, std::string_view origin);

    // The percent-decoded path of a URL ("pdfcraft://app/a%20b?q" → "/a b"); nothing without a scheme.
    static std::optional<std::string> pathOf(std::string_view url);

private:
    // The root as asked for last, its real path, and that folder held open for lookups beneath it.
    struct ResolvedRoot {
        std::string asked;
        std::optional<std::string> real;
        FileDescriptor folder;
        std::uint64_t device { 0 };
        std::uint64_t inode { 0 };
    };

    const ResolvedRoot* resolvedRoot() const;

    Root m_root;
    std::string m_contentSecurityPolicy;
    mutable ResolvedRoot m_resolvedRoot;
};

}
