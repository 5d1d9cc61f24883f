#pragma once

#include "bridge/ByteChannel.h"
#include "bridge/CommandReply.h"
#include "bridge/PrintQueue.h"
#include "common/Json.h"
#include "platform/WebView.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

class HttpClient;
class LauncherBadge;
class Updater;
class Notifier;
class MainQueue;
class Panels;
class PdfCraft;
class PracticeShare;
class PrintInbox;
class ProcessRunner;
class Secrets;
class ShellEvents;
class Store;
class Window;
class Workspace;

// Receives the page's script messages on "qp", decodes them, dispatches them by command name
// and answers each exactly once.
class Bridge {
public:
    using RawJSON = quillpost::RawJSON;

    struct Services {
        Store& store;
        Panels& panels;
        Workspace& workspace;
        ProcessRunner& processes;
        MainQueue& mainQueue;
        // Test-only commands answer only while QUILLPOST_SELFTEST is set.
        bool selfTest { false };
        HttpClient* http { nullptr };
        // Nothing in a bridge built without the password store, reader and clipboard, as some tests build it.
        Secrets* secrets { nullptr };
        PrintInbox* printInbox { nullptr };
        LauncherBadge* badge { nullptr };
        Updater* updater { nullptr };
        PdfCraft* pdfcraft { nullptr };
        Notifier* notifier { nullptr };
        // The application shell, for the test-only commands that act as the desktop would.
        ShellEvents* shell { nullptr };
        // Sharing the practice with other desks; nothing in bridges that tests build without it.
        PracticeShare* share { nullptr };
        // The side channel's expiry clock; the system clock when none is given.
        Clock* clock { nullptr };
    };

    struct Message {
        std::string cmd;
        Json args;
        // The page asked for large bytes in the answer through the side channel ("via": "quillpost-bytes").
        bool viaChannel { false };
    };

    explicit Bridge(Services);

    static constexpr const char* handlerName = "qp";

    // The message handler: takes the posted body and the web view's reply callback.
    void receive(const Json& body, ScriptReplyHandler);

    // Runs the named command with its arguments; answers through the reply, now or later.
    void handle(const std::string& cmd, const Json& args, CommandReply);

    // A dictionary with a string "cmd"; "args" is the JSON text of the argument array.
    static std::optional<Message> decode(const Json& body);

    // Bytes a command received as an argument: Base64 text, or the address of bytes the page
    // uploaded through the side channel. Nothing when neither holds.
    std::optional<std::string> bytesArgument(std::string_view text);
    ByteChannel& byteChannel() { return m_byteChannel; }

    // Shows a folder chooser on the main window (or on its own when there is none).
    void chooseFolder(const std::string& title, std::function<void(std::optional<std::string>)> completion);

    void setWebView(std::weak_ptr<WebView> webView) { m_webView = std::move(webView); }
    void setWindow(std::weak_ptr<Window> window) { m_window = std::move(window); }

    Store& store() { return m_store; }
    Workspace& workspace() { return m_workspace; }
    // Nothing in a bridge built without a network, as some tests build it.
    HttpClient* http() { return m_http; }
    ProcessRunner& processes() { return m_processes; }
    MainQueue& mainQueue() { return m_mainQueue; }
    bool selfTest() const { return m_selfTest; }
    Secrets* secrets() { return m_secrets; }
    // Nothing where a test builds the bridge without them.
    PrintInbox* printInbox() { return m_printInbox; }
    LauncherBadge* badge() { return m_badge; }
    Updater* updater() { return m_updater; }
    PdfCraft* pdfcraft() { return m_pdfcraft; }
    Notifier* notifier() { return m_notifier; }
    ShellEvents* shell() { return m_shell; }
    PracticeShare* share() { return m_share; }
    std::shared_ptr<WebView> webView() const { return m_webView.lock(); }
    std::shared_ptr<Window> window() const { return m_window.lock(); }

    // The page's print operations, run one at a time.
    PrintQueue& prints() { return m_prints; }

private:
    std::weak_ptr<WebView> m_webView;
    std::weak_ptr<Window> m_window;
    Store& m_store;
    Panels& m_panels;
    Workspace& m_workspace;
    ProcessRunner& m_processes;
    MainQueue& m_mainQueue;
    bool m_selfTest { false };
    HttpClient* m_http { nullptr };
    Secrets* m_secrets { nullptr };
    PrintInbox* m_printInbox { nullptr };
    LauncherBadge* m_badge { nullptr };
    Updater* m_updater { nullptr };
    PdfCraft* m_pdfcraft { nullptr };
    Notifier* m_notifier { nullptr };
    ShellEvents* m_shell { nullptr };
    PracticeShare* m_share { nullptr };
    PrintQueue m_prints { [this] { return webView(); } };
    ByteChannel m_byteChannel;
};

std::string_view pageApiScript();

}
