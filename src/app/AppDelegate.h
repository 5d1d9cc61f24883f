#pragma once

#include "app/PageRecovery.h"
#include "app/WindowState.h"
#include "bridge/Bridge.h"

#include <functional>
#include <memory>

namespace quillpost {

class Application;
class InlinePromptView;
class WebView;
class Window;

// Starts the program: the main window, its backdrop and drag strip, the page's web view with the
// page API and the bridge, then the page itself.
class AppDelegate {
public:
    explicit AppDelegate(Application&);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    static constexpr double sidebarWidth = 248.0;
    static constexpr double sidebarInset = 0.0;
    static constexpr double sidebarRadius = 0.0;

private:
    std::shared_ptr<Window> createWindow();
    std::shared_ptr<WebView> createWebView();
    void startUpdater();
    void flushForUpdate(std::function<void()> then);
    void startPrinter();
    void loadPage();
    void scheduleStartupRoutes();

    Application& m_application;
    std::shared_ptr<Window> m_window;
    std::shared_ptr<WebView> m_webView;
    std::shared_ptr<InlinePromptView> m_inlinePrompt;
    Bridge m_bridge;
    WindowState m_windowState;
    PageRecovery m_pageRecovery;
    bool m_pageLoaded { false };
};

}
