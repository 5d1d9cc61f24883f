#pragma once

#include "common/FileDescriptor.h"
#include "common/Json.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillpost {

// The answer to one script message: a result text, or a failure message that rejects the page's promise.
// Called at most once; the web view keeps the page's promise pending until then.
using ScriptReplyHandler = std::function<void(std::optional<std::string> result, std::optional<std::string> errorMessage)>;

// A request on a custom URI scheme, and the one answer it gets.
struct SchemeRequest {
    std::string uri;
    std::string method;
    // What a POST or PUT carried.
    std::string body;
};

struct SchemeResponse {
    int status { 200 };
    std::string contentType;
    std::map<std::string, std::string> headers;
    std::string body;
    // When open, the body is this file's bytes instead, read as WebKit asks for them rather than
    // held in memory. bodyFileLength is its size.
    FileDescriptor bodyFile;
    std::uint64_t bodyFileLength { 0 };
};

using SchemeResponder = std::function<void(std::optional<SchemeResponse>, std::string errorMessage)>;
using SchemeHandler = std::function<void(const SchemeRequest&, SchemeResponder)>;

// What a page asks its view to do beyond loading its own frames, and what the view answers.
// A view without policies keeps WebKit's own behaviour.
struct NavigationAction {
    std::string url; // empty when the request has none
    bool isDownload { false }; // a link with the download attribute, or a navigation the page turned into a download
    bool targetsSubframe { false };
    // The user clicked or pressed a key for it; a script alone did not.
    bool userGesture { false };
};

enum class NavigationDecision { Allow, Cancel, Download };

// How a download ended: written where the user said, cancelled (the save dialog, or the page),
// or failed while it was written.
struct DownloadOutcome {
    enum class Result { Saved, Cancelled, Failed };
    std::string url; // what the page asked to download: for the page's own files, its blob: address
    Result result { Result::Failed };
    std::filesystem::path destination; // where it was written, when Saved
    std::uint64_t size { 0 }; // bytes written, when Saved
    std::string message; // the engine's reason, when Failed
};

struct WebViewPolicies {
    std::function<NavigationDecision(const NavigationAction&)> decideNavigation;
    // A response the view cannot show is turned into a download instead of failing.
    bool downloadUnshowableResponses { false };
    // A request for a new window (target=_blank, window.open): the view never creates one.
    std::function<void(const NavigationAction&)> onNewWindowRequest;
    // Where a download goes: hand back a path, or nothing to cancel it.
    std::function<void(const std::string& suggestedName, std::function<void(std::optional<std::filesystem::path>)>)> chooseDownloadDestination;
    // Told once per download that chooseDownloadDestination was asked about.
    std::function<void(const DownloadOutcome&)> downloadEnded;
    // An <input type=file>: hand back the chosen files, none when cancelled.
    std::function<void(bool multiple, std::function<void(std::vector<std::filesystem::path>)>)> chooseFiles;
    std::function<void(const std::string& message, std::function<void()> done)> alert;
    std::function<void(const std::string& message, std::function<void(bool confirmed)>)> confirm;
};

// A content-rule list compiled once under its identifier; a configuration that carries it blocks what it names.
class ContentRuleList {
public:
    virtual ~ContentRuleList() = default;
    virtual const std::string& identifier() const = 0;
};

struct WebViewConfiguration {
    struct UserScript {
        enum class InjectionTime { DocumentStart, DocumentEnd };
        std::string source;
        InjectionTime injectionTime { InjectionTime::DocumentStart };
        bool mainFrameOnly { true };
    };

    struct MessageHandler {
        std::string name;
        // The body arrives as the JSON value of what the page posted (null when it had none that JSON can carry).
        std::function<void(const Json& body, ScriptReplyHandler)> onMessage;
    };

    std::vector<UserScript> userScripts;
    std::vector<MessageHandler> messageHandlers;
    // When set ("scheme://host"), user scripts run only in documents of this origin, and a message
    // is handled only while the view shows one; anything else is refused unseen by the handlers.
    std::string trustedOrigin;
    // Custom schemes are secure contexts that may use CORS, as https is.
    std::map<std::string, SchemeHandler> schemeHandlers;
    std::vector<std::shared_ptr<ContentRuleList>> contentRules;
    bool ephemeral { false };
    bool drawsBackground { true };
    bool inspectable { false };
    bool consoleToStandardOutput { false };
};

// One page in a WebKit web view. Every page the program shows goes through this interface.
class WebView {
public:
    enum class PrintDestination { PdfFile, PrintDialog };
    using Completion = std::function<void(bool ok, std::string errorMessage)>;
    using ScriptCompletion = std::function<void(std::optional<Json> result, std::string errorMessage)>;
    using SnapshotCompletion = std::function<void(std::optional<std::string> png, std::string errorMessage)>;

    virtual ~WebView() = default;

    // The configuration is fixed at creation: scheme handlers and content rules must be in it.
    static std::shared_ptr<WebView> create(WebViewConfiguration);

    // Compiles a JSON rule list under an identifier, kept in the store folder for later runs. The
    // completion runs on the main thread.
    static void compileContentRules(const std::filesystem::path& storeFolder, const std::string& identifier,
        const std::string& encodedRules, std::function<void(std::shared_ptr<ContentRuleList>, std::string errorMessage)>);

    virtual void loadRequest(const std::string& uri) = 0;

    // Fire and forget: the result and any error are dropped.
    virtual void evaluateScript(const std::string& script) = 0;
    virtual void evaluateScript(const std::string& script, ScriptCompletion) = 0;

    // Runs the body of an async function with the given named arguments and awaits its promise.
    virtual void callAsyncFunction(const std::string& body, const Json& arguments, ScriptCompletion) = 0;

    // Prints the current page, to a PDF file without a dialog or to paper through the print dialog.
    virtual void print(PrintDestination, const std::filesystem::path& pdfFile, Completion) = 0;

    // An image (PNG bytes) of the visible page.
    virtual void snapshot(SnapshotCompletion) = 0;

    virtual void setInspectable(bool) = 0;
    virtual void setPolicies(WebViewPolicies) = 0;
    virtual void setOnLoadFinished(std::function<void()>) = 0;

    // The page's web process ended: it crashed, passed its memory limit, or terminateWebProcess ended
    // it. The view stays blank until it is reloaded. The reason is a sentence for the log.
    virtual void setOnWebProcessTerminated(std::function<void(const std::string& reason)>) = 0;
    virtual void reload() = 0;
    virtual void terminateWebProcess() = 0;
};

}
