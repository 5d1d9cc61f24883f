#include "pdfcraft/PdfCraftScheme.h"

#include <algorithm>

namespace quillpost {

namespace {

constexpr const char* badURL = "The editor asked for an address that isn't one.";

bool isLowerHex(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}

PdfCraftScheme::PdfCraftScheme(Root root, const Registry& docs)
    : m_site(std::move(root), contentSecurityPolicy)
    , m_docs(docs)
{
}

std::optional<SchemeResponse> PdfCraftScheme::answer(const std::string& url) const
{
    auto path = SiteFolder::pathOf(url);
    if (!path)
        return std::nullopt;

    // "/doc/" + a 32-hex-digit token + "/": a document the page handed over.
    const std::string_view head = std::string_view(*path).substr(0, 38);
    if (head.size() == 38 && head.starts_with("/doc/") && head.back() == '/' && isLowerHex(head.substr(5, 32))) {
        auto document = m_docs.find(std::string(head.substr(5, 32)));
        if (document == m_docs.end())
            return m_site.response(404, "text/plain", "gone");
        return m_site.response(200, "application/pdf", document->second);
    }
    return m_site.answer(*path);
}

SchemeHandler PdfCraftScheme::handler(Root root, const Registry& docs)
{
    auto scheme = std::make_shared<PdfCraftScheme>(std::move(root), docs);
    return [scheme](const SchemeRequest& request, SchemeResponder respond) {
        auto answer = scheme->answer(request.uri);
        if (!answer) {
            respond(std::nullopt, badURL);
            return;
        }
        respond(std::move(answer), {});
    };
}

}
