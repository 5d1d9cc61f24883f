#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace quillpost {

class MainQueue;
class NestedLoop;
class WebView;

// The page's last chance to save: before the program quits and before an update replaces it.
// The page gets up to two seconds; it can delay the end but never prevent it.
class QuitCoordinator {
public:
    QuitCoordinator(MainQueue&, NestedLoop&);
    ~QuitCoordinator();

    static constexpr std::chrono::milliseconds saveLimit { 2000 };
    // A page with nothing unsaved isn't saved again: that would only push the last real change
    // out of data.json.bak.
    static constexpr const char* saveScript = "if (window.App && App.saveNow && App.dirty !== false) { await App.saveNow(); } return 1;";

    // Asks the page to save, then calls terminate exactly once: when the page has answered (or
    // failed), or when the limit has passed. Without a page it terminates at once. A request
    // made while one is under way joins it.
    void requestQuit(WebView* page, std::function<void()> terminate);
    bool quitting() const { return m_quitting; }

    // Returns after the page has saved, or after the limit, serving the main loop meanwhile.
    void flushForUpdate(WebView* page);

private:
    struct Attempt;

    MainQueue& m_mainQueue;
    NestedLoop& m_nestedLoop;
    bool m_quitting { false };
    std::shared_ptr<bool> m_alive;
};

}
