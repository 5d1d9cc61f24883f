#pragma once

#include "platform/WebView.h"

#include <webkit/webkit.h>

namespace quillpost {

// A WebKitGTK 6.0 web view behind the WebView interface.
class WebKitWebViewHost final : public WebView, public std::enable_shared_from_this<WebKitWebViewHost> {
public:
    explicit WebKitWebViewHost(WebViewConfiguration);
    ~WebKitWebViewHost() override;

    void loadRequest(const std::string& uri) override;
    void evaluateScript(const std::string& script) override;
    void evaluateScript(const std::string& script, ScriptCompletion) override;
    void callAsyncFunction(const std::string& body, const Json& arguments, ScriptCompletion) override;
    void print(PrintDestination, const std::filesystem::path& pdfFile, Completion) override;
    void snapshot(SnapshotCompletion) override;
    void setInspectable(bool) override;
    void setPolicies(WebViewPolicies) override;
    void setOnLoadFinished(std::function<void()>) override;
    void setOnWebProcessTerminated(std::function<void(const std::string&)>) override;
    void reload() override;
    void terminateWebProcess() override;

    GtkWidget* widget() const { return GTK_WIDGET(m_view); }

private:
    void connectMessageHandler(WebKitUserContentManager*, WebViewConfiguration::MessageHandler, const std::string& trustedOrigin);
    static void loadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
    static void webProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);
    static gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer self);
    static void downloadStarted(WebKitNetworkSession*, WebKitDownload*, gpointer self);
    static gboolean runFileChooser(WebKitWebView*, WebKitFileChooserRequest*, gpointer self);
    static gboolean scriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);

    WebKitWebView* m_view { nullptr };
    WebKitUserContentManager* m_contentManager { nullptr };
    std::vector<gulong> m_messageHandlers;
    std::vector<std::string> m_messageHandlerNames;
    WebKitSettings* m_settings { nullptr };
    std::function<void()> m_onLoadFinished;
    std::function<void(const std::string&)> m_onWebProcessTerminated;
    WebViewPolicies m_policies;
    bool m_policiesConnected { false };
    WebKitNetworkSession* m_session { nullptr };
};

// The engine's filter behind a compiled rule list.
WebKitUserContentFilter* contentFilterOf(const ContentRuleList&);

// Routes requests of a custom scheme to the handler of the web view that made them.
namespace SchemeRegistry {
void add(WebKitWebView*, const std::string& scheme, SchemeHandler);
void remove(WebKitWebView*);
}

}
