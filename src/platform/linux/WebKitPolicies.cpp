#include "platform/linux/WebKitWebViewHost.h"

namespace quillpost {

// What a page may do beyond its own frames: where navigations go, new windows, downloads, file
// choosers and script dialogs. A view without policies keeps WebKit's behaviour.
void WebKitWebViewHost::setPolicies(WebViewPolicies policies)
{
    m_policies = std::move(policies);
    if (m_policiesConnected)
        return;
    m_policiesConnected = true;
    g_signal_connect(m_view, "decide-policy", G_CALLBACK(decidePolicy), this);
    g_signal_connect(m_view, "run-file-chooser", G_CALLBACK(runFileChooser), this);
    g_signal_connect(m_view, "script-dialog", G_CALLBACK(scriptDialog), this);
    // No new view is ever made for a page: a request for one ends at the policy above.
    g_signal_connect(m_view, "create", G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction*, gpointer) -> GtkWidget* { return nullptr; }), nullptr);
    g_signal_connect(m_session, "download-started", G_CALLBACK(downloadStarted), this);
}

static NavigationAction navigationAction(WebKitPolicyDecision* decision)
{
    auto* action = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    auto* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    auto* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    // WebKitGTK doesn't say which frame a navigation is for; the pages that set policies
    // forbid frames (frame-src 'none'), so every navigation is the main frame's.
    return {
        .url = uri ? uri : "",
        .isDownload = false,
        .targetsSubframe = false,
        .userGesture = action && webkit_navigation_action_is_user_gesture(action),
    };
}

gboolean WebKitWebViewHost::decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer self)
{
    auto& policies = static_cast<WebKitWebViewHost*>(self)->m_policies;
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
        if (!policies.decideNavigation)
            return FALSE;
        switch (policies.decideNavigation(navigationAction(decision))) {
        case NavigationDecision::Allow:
            webkit_policy_decision_use(decision);
            break;
        case NavigationDecision::Cancel:
            webkit_policy_decision_ignore(decision);
            break;
        case NavigationDecision::Download:
            webkit_policy_decision_download(decision);
            break;
        }
        return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
        if (!policies.decideNavigation && !policies.onNewWindowRequest)
            return FALSE;
        auto action = navigationAction(decision);
        webkit_policy_decision_ignore(decision);
        if (policies.onNewWindowRequest)
            policies.onNewWindowRequest(action);
        return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        if (!policies.downloadUnshowableResponses || webkit_response_policy_decision_is_mime_type_supported(response))
            return FALSE;
        webkit_policy_decision_download(decision);
        return TRUE;
    }
    }
    return FALSE;
}

// Follows a download to its end: WebKit emits "failed" (a cancel among its reasons) before
// "finished", and "finished" alone when the file was written.
static void reportDownloadOutcome(WebKitDownload* download, std::function<void(const DownloadOutcome&)> report)
{
    struct Progress {
        std::function<void(const DownloadOutcome&)> report;
        DownloadOutcome outcome;
        bool failed { false };
    };
    auto* progress = new Progress { std::move(report), {}, false };
    auto* request = webkit_download_get_request(download);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    progress->outcome.url = uri ? uri : "";
    // The download owns its progress; it goes with the download.
    g_object_set_data_full(G_OBJECT(download), "quillpost-download-progress", progress, [](gpointer data) { delete static_cast<Progress*>(data); });

    g_signal_connect(download, "failed", G_CALLBACK(+[](WebKitDownload*, GError* error, gpointer data) {
        auto& state = *static_cast<Progress*>(data);
        state.failed = true;
        const bool cancelled = g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER);
        state.outcome.result = cancelled ? DownloadOutcome::Result::Cancelled : DownloadOutcome::Result::Failed;
        state.outcome.message = error && error->message ? error->message : "";
    }),
        progress);
    g_signal_connect(download, "finished", G_CALLBACK(+[](WebKitDownload* finished, gpointer data) {
        auto& state = *static_cast<Progress*>(data);
        if (!state.failed) {
            state.outcome.result = DownloadOutcome::Result::Saved;
            state.outcome.size = webkit_download_get_received_data_length(finished);
            if (const char* destination = webkit_download_get_destination(finished)) {
                g_autofree char* path = g_str_has_prefix(destination, "file:") ? g_filename_from_uri(destination, nullptr, nullptr) : g_strdup(destination);
                if (path)
                    state.outcome.destination = path;
            }
        }
        // A copy: the page's answer may end the download, and its state with it.
        auto tell = state.report;
        tell(state.outcome);
    }),
        progress);
}

void WebKitWebViewHost::downloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer self)
{
    auto* host = static_cast<WebKitWebViewHost*>(self);
    if (webkit_download_get_web_view(download) != host->m_view || !host->m_policies.chooseDownloadDestination)
        return;
    if (host->m_policies.downloadEnded)
        reportDownloadOutcome(download, host->m_policies.downloadEnded);
    auto chooser = host->m_policies.chooseDownloadDestination;
    auto decide = +[](WebKitDownload* started, const char* suggestedName, gpointer data) -> gboolean {
        auto& choose = *static_cast<decltype(chooser)*>(data);
        g_object_ref(started);
        choose(suggestedName ? suggestedName : "download", [started](std::optional<std::filesystem::path> destination) {
            if (destination) {
                // The user agreed to replace what is there.
                webkit_download_set_allow_overwrite(started, TRUE);
                webkit_download_set_destination(started, destination->c_str());
            } else {
                webkit_download_cancel(started);
            }
            g_object_unref(started);
        });
        return TRUE;
    };
    g_signal_connect_data(download, "decide-destination", G_CALLBACK(decide), new decltype(chooser)(std::move(chooser)),
        [](gpointer data, GClosure*) { delete static_cast<decltype(chooser)*>(data); }, GConnectFlags(0));
}

gboolean WebKitWebViewHost::runFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self)
{
    auto& policies = static_cast<WebKitWebViewHost*>(self)->m_policies;
    if (!policies.chooseFiles)
        return FALSE;
    g_object_ref(request);
    policies.chooseFiles(webkit_file_chooser_request_get_select_multiple(request), [request](std::vector<std::filesystem::path> files) {
        if (files.empty()) {
            webkit_file_chooser_request_cancel(request);
        } else {
            std::vector<const char*> paths;
            for (auto& file : files)
                paths.push_back(file.c_str());
            paths.push_back(nullptr);
            webkit_file_chooser_request_select_files(request, paths.data());
        }
        g_object_unref(request);
    });
    return TRUE;
}

gboolean WebKitWebViewHost::scriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self)
{
    auto& policies = static_cast<WebKitWebViewHost*>(self)->m_policies;
    auto type = webkit_script_dialog_get_dialog_type(dialog);
    std::string message = webkit_script_dialog_get_message(dialog) ? webkit_script_dialog_get_message(dialog) : "";
    if (type == WEBKIT_SCRIPT_DIALOG_ALERT && policies.alert) {
        webkit_script_dialog_ref(dialog);
        policies.alert(message, [dialog] {
            webkit_script_dialog_close(dialog);
            webkit_script_dialog_unref(dialog);
        });
        return TRUE;
    }
    if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM && policies.confirm) {
        webkit_script_dialog_ref(dialog);
        policies.confirm(message, [dialog](bool confirmed) {
            webkit_script_dialog_confirm_set_confirmed(dialog, confirmed);
            webkit_script_dialog_close(dialog);
            webkit_script_dialog_unref(dialog);
        });
        return TRUE;
    }
    return FALSE;
}

}
