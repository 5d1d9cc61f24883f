#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace quillpost {

class MainQueue;
class NestedLoop;
class WebView;

// The page's last chance to save: before the program quits, before an update replaces it, and
// when the system ends it (SIGTERM, the desktop session's end). The page can delay the end but
// never prevent it; only an editor window whose user keeps its unsaved changes stops a quit.
class QuitCoordinator {
public:
    // Asks every editor window to close as its close button does, and calls back with whether
    // all of them closed; false when the user kept one.
    using CloseEditors = std::function<void(std::function<void(bool allClosed)>)>;

    QuitCoordinator(MainQueue&, NestedLoop&, CloseEditors = {});
    ~QuitCoordinator();

    static constexpr std::chrono::milliseconds saveLimit { 2000 };
    // The system is ending the program: the page has less time, and nobody is asked anything.
    static constexpr std::chrono::milliseconds terminationSaveLimit { 1000 };
    // A page with nothing unsaved isn't saved again: that would only push the last real change
    // out of data.json.bak.
    static constexpr const char* saveScript = "if (window.App && App.saveNow && App.dirty !== false) { await App.saveNow(); } return 1;";

    // Closes the editor windows (each may ask about unsaved changes), then asks the page to save
    // and calls terminate exactly once: when the page has answered (or failed), or when the limit
    // has passed. Without a page it terminates as soon as the editors are closed. A request made
    // while one is under way joins it; one the user stopped by keeping an editor leaves nothing
    // behind, so the next request starts afresh.
    void requestQuit(WebView* page, std::function<void()> terminate);
    bool quitting() const { return m_quitting; }

    // SIGTERM or the session's end: asks the page to save what is waiting, then calls stop
    // exactly once, after the page's answer or terminationSaveLimit. Editor windows aren't asked.
    // A second signal meanwhile joins the first.
    void terminate(WebView* page, std::function<void()> stop);

    // Returns after the page has saved, or after the limit, serving the main loop meanwhile.
    void flushForUpdate(WebView* page);

private:
    struct Attempt;
    void saveThen(WebView* page, std::chrono::milliseconds limit, std::function<void()> then);

    MainQueue& m_mainQueue;
    NestedLoop& m_nestedLoop;
    CloseEditors m_closeEditors;
    bool m_quitting { false };
    bool m_terminating { false };
    std::shared_ptr<bool> m_alive;
};

}
