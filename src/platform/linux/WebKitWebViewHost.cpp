#include "platform/linux/WebKitWebViewHost.h"

#include "platform/Log.h"
#include "platform/SiteFolder.h"
#include "platform/linux/JavaScriptValues.h"

namespace quillpost {

std::shared_ptr<WebView> WebView::create(WebViewConfiguration configuration)
{
    return std::make_shared<WebKitWebViewHost>(std::move(configuration));
}

namespace {

struct MessageHandlerData {
    std::function<void(const Json&, ScriptReplyHandler)> onMessage;
    // Not owned: the handler is disconnected before the view goes.
    WebKitWebView* view;
    std::string trustedOrigin;
};

template<typename Completion>
struct Pending {
    Completion completion;
};

std::string errorText(GError* error, const char* fallback)
{
    return error && error->message ? error->message : fallback;
}

using ScriptFinish = JSCValue* (*)(WebKitWebView*, GAsyncResult*, GError**);

template<ScriptFinish finish>
void scriptFinished(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<Pending<WebView::ScriptCompletion>> call(static_cast<Pending<WebView::ScriptCompletion>*>(data));
    g_autoptr(GError) error = nullptr;
    g_autoptr(JSCValue) value = finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (!value) {
        call->completion(std::nullopt, errorText(error, "The script failed."));
        return;
    }
    call->completion(jsonFromJavaScriptValue(value), {});
}

}

WebKitWebViewHost::WebKitWebViewHost(WebViewConfiguration configuration)
{
    m_settings = webkit_settings_new();
    // No page of ours reads the disk through file: URLs.
    webkit_settings_set_allow_file_access_from_file_urls(m_settings, FALSE);
    webkit_settings_set_allow_universal_access_from_file_urls(m_settings, FALSE);
    webkit_settings_set_enable_write_console_messages_to_stdout(m_settings, configuration.consoleToStandardOutput);
    webkit_settings_set_enable_developer_extras(m_settings, configuration.inspectable);

    m_contentManager = webkit_user_content_manager_new();
    auto* contentManager = m_contentManager;
    const std::string trustedDocuments = configuration.trustedOrigin + "/*";
    const char* const allowList[] = { trustedDocuments.c_str(), nullptr };
    for (auto& script : configuration.userScripts) {
        auto frames = script.mainFrameOnly ? WEBKIT_USER_CONTENT_INJECT_TOP_FRAME : WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES;
        auto time = script.injectionTime == WebViewConfiguration::UserScript::InjectionTime::DocumentStart
            ? WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START
            : WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END;
        g_autoptr(WebKitUserScript) userScript = webkit_user_script_new(script.source.c_str(), frames, time,
            configuration.trustedOrigin.empty() ? nullptr : allowList, nullptr);
        webkit_user_content_manager_add_script(contentManager, userScript);
    }

    g_autoptr(WebKitNetworkSession) ephemeralSession = configuration.ephemeral ? webkit_network_session_new_ephemeral() : nullptr;
    auto* session = ephemeralSession ? ephemeralSession : webkit_network_session_get_default();

    m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW,
        "user-content-manager", contentManager,
        "network-session", session,
        "settings", m_settings,
        nullptr));
    g_object_ref_sink(m_view);
    m_session = WEBKIT_NETWORK_SESSION(g_object_ref(session));

    for (auto& handler : configuration.messageHandlers)
        connectMessageHandler(contentManager, std::move(handler), configuration.trustedOrigin);

    // The content rules are compiled before the view exists; they only need adding here.
    for (auto& rules : configuration.contentRules) {
        if (rules)
            webkit_user_content_manager_add_filter(contentManager, contentFilterOf(*rules));
    }

    for (auto& [scheme, handler] : configuration.schemeHandlers)
        SchemeRegistry::add(m_view, scheme, std::move(handler));

    if (!configuration.drawsBackground) {
        GdkRGBA transparent { 0, 0, 0, 0 };
        webkit_web_view_set_background_color(m_view, &transparent);
    }
    g_signal_connect(m_view, "load-changed", G_CALLBACK(loadChanged), this);
    g_signal_connect(m_view, "web-process-terminated", G_CALLBACK(webProcessTerminated), this);
}

WebKitWebViewHost::~WebKitWebViewHost()
{
    // The page may outlive this object for a moment; its messages must no longer reach the handlers.
    for (auto& name : m_messageHandlerNames)
        webkit_user_content_manager_unregister_script_message_handler(m_contentManager, name.c_str(), nullptr);
    for (auto id : m_messageHandlers)
        g_signal_handler_disconnect(m_contentManager, id);
    g_object_unref(m_contentManager);
    g_signal_handlers_disconnect_by_data(m_view, this);
    g_signal_handlers_disconnect_by_data(m_session, this);
    g_object_unref(m_session);
    SchemeRegistry::remove(m_view);
    g_object_unref(m_view);
    g_object_unref(m_settings);
}

namespace {

// WebKit's reply to one script message. It answers once; if the program drops it unanswered, the
// page's promise is rejected rather than left pending.
class PendingScriptReply {
public:
    PendingScriptReply(WebKitScriptMessageReply* reply, JSCContext* context)
        : m_reply(webkit_script_message_reply_ref(reply))
        , m_context(JSC_CONTEXT(g_object_ref(context)))
    {
    }

    ~PendingScriptReply()
    {
        answer(std::nullopt, std::string("The message was dropped without an answer."));
        webkit_script_message_reply_unref(m_reply);
        g_object_unref(m_context);
    }

    void answer(std::optional<std::string> result, std::optional<std::string> errorMessage)
    {
        if (m_answered)
            return;
        m_answered = true;
        if (errorMessage) {
            webkit_script_message_reply_return_error_message(m_reply, errorMessage->c_str());
            return;
        }
        g_autoptr(JSCValue) value = nullptr;
        if (result) {
            g_autoptr(GBytes) bytes = g_bytes_new(result->data(), result->size());
            value = jsc_value_new_string_from_bytes(m_context, bytes);
        } else {
            value = jsc_value_new_null(m_context);
        }
        webkit_script_message_reply_return_value(m_reply, value);
    }

private:
    WebKitScriptMessageReply* m_reply;
    JSCContext* m_context;
    bool m_answered { false };
};

}

void WebKitWebViewHost::connectMessageHandler(WebKitUserContentManager* contentManager, WebViewConfiguration::MessageHandler handler,
    const std::string& trustedOrigin)
{
    auto* data = new MessageHandlerData { std::move(handler.onMessage), m_view, trustedOrigin };
    auto signal = "script-message-with-reply-received::" + handler.name;
    auto received = +[](WebKitUserContentManager*, JSCValue* body, WebKitScriptMessageReply* reply, gpointer userData) -> gboolean {
        auto* handlerData = static_cast<MessageHandlerData*>(userData);
        // WebKitGTK doesn't say which document sent a message. The view's pages never leave the
        // trusted origin and allow no frames, so the document the view shows is the sender.
        if (!handlerData->trustedOrigin.empty()) {
            const char* shown = webkit_web_view_get_uri(handlerData->view);
            if (!shown || !SiteFolder::isDocumentOf(shown, handlerData->trustedOrigin)) {
                Log::error(std::string("A message from a page that isn't Quillpost's was refused: ") + (shown ? shown : "(no address)"));
                webkit_script_message_reply_return_error_message(reply, "Only Quillpost's own page can use Quillpost.");
                return TRUE;
            }
        }
        auto pending = std::make_shared<PendingScriptReply>(reply, jsc_value_get_context(body));
        handlerData->onMessage(jsonFromJavaScriptValue(body), [pending](std::optional<std::string> result, std::optional<std::string> errorMessage) {
            pending->answer(std::move(result), std::move(errorMessage));
        });
        return TRUE;
    };
    m_messageHandlers.push_back(g_signal_connect_data(contentManager, signal.c_str(), G_CALLBACK(received), data,
        [](gpointer userData, GClosure*) { delete static_cast<MessageHandlerData*>(userData); }, GConnectFlags(0)));
    m_messageHandlerNames.push_back(handler.name);
    webkit_user_content_manager_register_script_message_handler_with_reply(contentManager, handler.name.c_str(), nullptr);
}

void WebKitWebViewHost::loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self)
{
    auto* host = static_cast<WebKitWebViewHost*>(self);
    if (event == WEBKIT_LOAD_FINISHED && host->m_onLoadFinished)
        host->m_onLoadFinished();
}

void WebKitWebViewHost::webProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self)
{
    auto* host = static_cast<WebKitWebViewHost*>(self);
    if (!host->m_onWebProcessTerminated)
        return;
    switch (reason) {
    case WEBKIT_WEB_PROCESS_CRASHED:
        host->m_onWebProcessTerminated("The page's web process crashed.");
        return;
    case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT:
        host->m_onWebProcessTerminated("The page's web process passed its memory limit and was ended.");
        return;
    case WEBKIT_WEB_PROCESS_TERMINATED_BY_API:
        host->m_onWebProcessTerminated("The page's web process was ended on request.");
        return;
    }
    host->m_onWebProcessTerminated("The page's web process ended.");
}

void WebKitWebViewHost::loadRequest(const std::string& uri)
{
    webkit_web_view_load_uri(m_view, uri.c_str());
}

void WebKitWebViewHost::evaluateScript(const std::string& script)
{
    webkit_web_view_evaluate_javascript(m_view, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr, nullptr, nullptr, nullptr);
}

void WebKitWebViewHost::evaluateScript(const std::string& script, ScriptCompletion completion)
{
    webkit_web_view_evaluate_javascript(m_view, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr, nullptr,
        scriptFinished<webkit_web_view_evaluate_javascript_finish>, new Pending<ScriptCompletion> { std::move(completion) });
}

void WebKitWebViewHost::callAsyncFunction(const std::string& body, const Json& arguments, ScriptCompletion completion)
{
    auto function = functionTakingJsonArguments(body, arguments);
    webkit_web_view_call_async_javascript_function(m_view, function.data(), static_cast<gssize>(function.size()),
        variantCarryingJson(arguments), nullptr, nullptr, nullptr,
        scriptFinished<webkit_web_view_call_async_javascript_function_finish>, new Pending<ScriptCompletion> { std::move(completion) });
}

void WebKitWebViewHost::snapshot(SnapshotCompletion completion)
{
    auto* pending = new Pending<SnapshotCompletion> { std::move(completion) };
    webkit_web_view_get_snapshot(m_view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending<SnapshotCompletion>> call(static_cast<Pending<SnapshotCompletion>*>(data));
            g_autoptr(GError) error = nullptr;
            g_autoptr(GdkTexture) texture = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (!texture) {
                call->completion(std::nullopt, errorText(error, "The page couldn't be captured."));
                return;
            }
            g_autoptr(GBytes) png = gdk_texture_save_to_png_bytes(texture);
            gsize size = 0;
            auto* bytes = static_cast<const char*>(g_bytes_get_data(png, &size));
            call->completion(std::string(bytes, size), {});
        },
        pending);
}

void WebKitWebViewHost::setInspectable(bool inspectable)
{
    webkit_settings_set_enable_developer_extras(m_settings, inspectable);
}

void WebKitWebViewHost::setOnLoadFinished(std::function<void()> onLoadFinished)
{
    m_onLoadFinished = std::move(onLoadFinished);
}

void WebKitWebViewHost::setOnWebProcessTerminated(std::function<void(const std::string&)> onTerminated)
{
    m_onWebProcessTerminated = std::move(onTerminated);
}

void WebKitWebViewHost::reload()
{
    webkit_web_view_reload(m_view);
}

void WebKitWebViewHost::terminateWebProcess()
{
    webkit_web_view_terminate_web_process(m_view);
}

}
