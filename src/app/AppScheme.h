#pragma once

#include "platform/SiteFolder.h"
#include "platform/WebView.h"

#include <string_view>

namespace quillpost {

// The shipped page is served from the program's own scheme, never from file: URLs, so no other
// document shares its origin and only it reaches the bridge.
class AppScheme {
public:
    static constexpr std::string_view scheme = "quillpost-app";
    static constexpr std::string_view origin = "quillpost-app://app";
    static constexpr std::string_view pageAddress = "quillpost-app://app/index.html";

    // index.html carries the same policy in its head; the header covers every document served here.
    static constexpr std::string_view contentSecurityPolicy
        = "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; font-src 'self'; "
          "connect-src 'self' quillpost-bytes:; media-src 'none'; frame-src 'none'; child-src 'none'; worker-src 'none'; "
          "object-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

    explicit AppScheme(SiteFolder::Root pageFolder);

    // A GET of a file of the page; when the page itself is missing, a page that says so.
    SchemeResponse answer(const SchemeRequest&) const;

    static SchemeHandler handler(SiteFolder::Root pageFolder);

    // Whether a URL is a document of the shipped page (or a blob it made), in any letter case of
    // the scheme and host.
    static bool isOwnDocument(std::string_view url);

private:
    SiteFolder m_site;
};

}
