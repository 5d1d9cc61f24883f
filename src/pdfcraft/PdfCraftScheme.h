#pragma once

#include "common/FileDescriptor.h"
#include "platform/WebView.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quillpost {

// Serves everything an editor window loads over the "pdfcraft" scheme: the files of the editor's
// site, contained in its root, and the documents the page handed to the editor, from memory.
// Every request gets one complete answer before the handler returns.
class PdfCraftScheme {
public:
    using Root = std::function<std::filesystem::path()>;
    // Document token → the document's bytes; owned by PdfCraft, only read here.
    using Registry = std::map<std::string, std::string>;

    static constexpr std::string_view contentSecurityPolicy
        = "default-src pdfcraft: blob: data:; script-src pdfcraft: 'unsafe-inline' 'wasm-unsafe-eval'; style-src pdfcraft: 'unsafe-inline'; "
          "img-src pdfcraft: blob: data:; font-src pdfcraft: data:; connect-src pdfcraft: blob: data:; worker-src pdfcraft: blob:; "
          "frame-src 'none'; object-src 'none'; form-action 'none'";

    // root is asked afresh for every request, so a window follows the site in use.
    PdfCraftScheme(Root root, const Registry& docs);

    // The answer to one request; nothing when the URL is unusable.
    std::optional<SchemeResponse> answer(const std::string& url) const;

    // The handler a web view configuration carries for the scheme "pdfcraft".
    static SchemeHandler handler(Root root, const Registry& docs);

    // The MIME type served for a file extension (any case).
    static std::string mimeType(std::string_view extension);

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

    SchemeResponse siteFile(const std::string& path) const;
    const ResolvedRoot* siteRoot() const;

    Root m_root;
    const Registry& m_docs;
    mutable ResolvedRoot m_resolvedRoot;
};

}
