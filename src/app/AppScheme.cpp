#include "app/AppScheme.h"

namespace quillpost {

namespace {

constexpr std::string_view missingPage
    = "<!doctype html><meta charset=\"utf-8\"><title>Quillpost</title>"
      "<body style=\"font:15px system-ui;margin:64px 64px 64px 312px;color:#333\">"
      "<h2>Quillpost can't find its screens</h2><p>The file share/quillpost/app/index.html is missing next to the "
      "program. Please reinstall Quillpost. Your data has not been touched.</p></body>";

}

AppScheme::AppScheme(SiteFolder::Root pageFolder)
    : m_site(std::move(pageFolder), contentSecurityPolicy)
{
}

SchemeResponse AppScheme::answer(const SchemeRequest& request) const
{
    if (request.method != "GET" || !SiteFolder::isDocumentOf(request.uri, origin))
        return m_site.response(404, "text/plain", "not found");
    auto path = SiteFolder::pathOf(request.uri).value_or("/");
    auto answer = m_site.answer(path);
    if (answer.status == 404 && (path == "/" || path == "/index.html")) {
        answer = m_site.response(200, "text/html", std::string(missingPage));
        // The one inline style this page needs; it has no script.
        answer.headers["Content-Security-Policy"] = "default-src 'none'; style-src 'unsafe-inline'";
    }
    answer.headers["Cache-Control"] = "no-cache";
    return answer;
}

SchemeHandler AppScheme::handler(SiteFolder::Root pageFolder)
{
    auto page = std::make_shared<AppScheme>(std::move(pageFolder));
    return [page](const SchemeRequest& request, SchemeResponder respond) {
        respond(page->answer(request), {});
    };
}

bool AppScheme::isOwnDocument(std::string_view url)
{
    // A blob the page made is named after its origin: "blob:quillpost-app://app/<uuid>".
    if (url.starts_with("blob:"))
        url.remove_prefix(5);
    return SiteFolder::isDocumentOf(url, origin);
}

}
