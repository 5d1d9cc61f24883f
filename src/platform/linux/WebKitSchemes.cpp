#include "platform/linux/WebKitWebViewHost.h"

#include <gio/gunixinputstream.h>
#include <libsoup/soup.h>
#include <array>
#include <map>
#include <set>

namespace quillpost {

namespace {

// Schemes are registered once on the web context; each request goes to the handler of its own view.
std::map<std::string, std::map<WebKitWebView*, SchemeHandler>>& handlers()
{
    static std::map<std::string, std::map<WebKitWebView*, SchemeHandler>> handlersByScheme;
    return handlersByScheme;
}

void finishWithError(WebKitURISchemeRequest* request, const std::string& message)
{
    g_autoptr(GError) error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, message.c_str());
    webkit_uri_scheme_request_finish_error(request, error);
}

void respond(WebKitURISchemeRequest* request, SchemeResponse& response)
{
    g_autoptr(GInputStream) stream = nullptr;
    gint64 length = 0;
    if (response.bodyFile) {
        // WebKit reads the file as it needs it; the stream closes the descriptor.
        stream = g_unix_input_stream_new(response.bodyFile.release(), TRUE);
        length = static_cast<gint64>(response.bodyFileLength);
    } else {
        // The body moves into the stream without a copy.
        length = static_cast<gint64>(response.body.size());
        auto* owned = new std::string(std::move(response.body));
        auto* body = g_bytes_new_with_free_func(owned->data(), owned->size(), [](gpointer data) { delete static_cast<std::string*>(data); }, owned);
        stream = g_memory_input_stream_new_from_bytes(body);
        g_bytes_unref(body);
    }
    g_autoptr(WebKitURISchemeResponse) schemeResponse = webkit_uri_scheme_response_new(stream, length);
    webkit_uri_scheme_response_set_status(schemeResponse, static_cast<guint>(response.status), nullptr);
    if (!response.contentType.empty())
        webkit_uri_scheme_response_set_content_type(schemeResponse, response.contentType.c_str());
    if (!response.headers.empty()) {
        auto* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
        for (auto& [name, value] : response.headers)
            soup_message_headers_append(headers, name.c_str(), value.c_str());
        webkit_uri_scheme_response_set_http_headers(schemeResponse, headers);
    }
    webkit_uri_scheme_request_finish_with_response(request, schemeResponse);
}

// A request answers once; one that the program drops unanswered fails instead of loading for ever.
class PendingSchemeRequest {
public:
    explicit PendingSchemeRequest(WebKitURISchemeRequest* request)
        : m_request(WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request)))
    {
    }

    ~PendingSchemeRequest()
    {
        finish(std::nullopt, "The page didn't answer.");
        g_object_unref(m_request);
    }

    void finish(std::optional<SchemeResponse> response, std::string errorMessage)
    {
        if (m_finished)
            return;
        m_finished = true;
        if (response)
            respond(m_request, *response);
        else
            finishWithError(m_request, errorMessage);
    }

private:
    WebKitURISchemeRequest* m_request;
    bool m_finished { false };
};

// WebKit hands the body over already in this process, so reading it whole does not wait on the page.
bool readBody(WebKitURISchemeRequest* request, std::string& body)
{
    g_autoptr(GInputStream) stream = webkit_uri_scheme_request_get_http_body(request);
    if (!stream)
        return true;
    std::array<char, 256 * 1024> chunk;
    while (true) {
        gsize count = 0;
        if (!g_input_stream_read_all(stream, chunk.data(), chunk.size(), &count, nullptr, nullptr))
            return false;
        body.append(chunk.data(), count);
        // No handler takes more than this; a page sending more is refused rather than held.
        if (body.size() > 1024ull * 1024 * 1024)
            return false;
        if (count < chunk.size())
            return true;
    }
}

void received(WebKitURISchemeRequest* request, gpointer)
{
    auto& byView = handlers()[webkit_uri_scheme_request_get_scheme(request)];
    auto it = byView.find(webkit_uri_scheme_request_get_web_view(request));
    if (it == byView.end()) {
        finishWithError(request, "This page can't be opened here.");
        return;
    }
    SchemeRequest schemeRequest {
        webkit_uri_scheme_request_get_uri(request),
        webkit_uri_scheme_request_get_http_method(request) ? webkit_uri_scheme_request_get_http_method(request) : "GET",
        {},
    };
    if (schemeRequest.method == "POST" || schemeRequest.method == "PUT") {
        if (!readBody(request, schemeRequest.body)) {
            finishWithError(request, "The request's body couldn't be read.");
            return;
        }
    }
    auto pending = std::make_shared<PendingSchemeRequest>(request);
    it->second(schemeRequest, [pending](std::optional<SchemeResponse> response, std::string errorMessage) {
        pending->finish(std::move(response), std::move(errorMessage));
    });
}

class WebKitContentRuleList final : public ContentRuleList {
public:
    WebKitContentRuleList(std::string identifier, WebKitUserContentFilter* filter)
        : m_identifier(std::move(identifier))
        , m_filter(filter)
    {
    }
    ~WebKitContentRuleList() override { webkit_user_content_filter_unref(m_filter); }

    const std::string& identifier() const override { return m_identifier; }
    WebKitUserContentFilter* filter() const { return m_filter; }

private:
    std::string m_identifier;
    WebKitUserContentFilter* m_filter;
};

}

void SchemeRegistry::add(WebKitWebView* view, const std::string& scheme, SchemeHandler handler)
{
    static std::set<std::string> registered;
    if (registered.insert(scheme).second) {
        auto* context = webkit_web_context_get_default();
        webkit_web_context_register_uri_scheme(context, scheme.c_str(), received, nullptr, nullptr);
        // Pages of our own schemes are secure contexts (WebAssembly, workers, fetch of their own files).
        auto* security = webkit_web_context_get_security_manager(context);
        webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
        webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
    }
    handlers()[scheme][view] = std::move(handler);
}

void SchemeRegistry::remove(WebKitWebView* view)
{
    for (auto& [scheme, byView] : handlers())
        byView.erase(view);
}

WebKitUserContentFilter* contentFilterOf(const ContentRuleList& rules)
{
    return static_cast<const WebKitContentRuleList&>(rules).filter();
}

void WebView::compileContentRules(const std::filesystem::path& storeFolder, const std::string& identifier,
    const std::string& encodedRules, std::function<void(std::shared_ptr<ContentRuleList>, std::string)> completion)
{
    struct Compilation {
        std::string identifier;
        std::function<void(std::shared_ptr<ContentRuleList>, std::string)> completion;
        WebKitUserContentFilterStore* store;
    };
    auto* compilation = new Compilation { identifier, std::move(completion), webkit_user_content_filter_store_new(storeFolder.c_str()) };
    g_autoptr(GBytes) source = g_bytes_new(encodedRules.data(), encodedRules.size());
    webkit_user_content_filter_store_save(compilation->store, identifier.c_str(), source, nullptr,
        [](GObject* object, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Compilation> finished(static_cast<Compilation*>(data));
            g_autoptr(GError) error = nullptr;
            auto* filter = webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(object), result, &error);
            g_object_unref(finished->store);
            if (!filter) {
                finished->completion(nullptr, error ? error->message : "The content rules didn't compile.");
                return;
            }
            finished->completion(std::make_shared<WebKitContentRuleList>(finished->identifier, filter), {});
        },
        compilation);
}

}
