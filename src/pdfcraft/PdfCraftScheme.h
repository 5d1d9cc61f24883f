#pragma once

#include "platform/SiteFolder.h"
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

private:
    SiteFolder m_site;
    const Registry& m_docs;
};

}
