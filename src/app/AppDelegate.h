#pragma once

#include "app/LinkRouter.h"
#include "app/PageRecovery.h"
#include "app/QuitCoordinator.h"
#include "app/WindowState.h"
#include "bridge/Bridge.h"
#include "bridge/ShellCommands.h"
#include "platform/SystemLockWatch.h"
#include "selftest/SelfTest.h"

#include <functional>
#include <memory>

namespace quillpost {

class Application;
class InlinePromptView;
class WebView;
class Window;

// Starts the program: the main window, its backdrop and drag strip, the page's web view with the
// page API and the bridge, then the page itself.
class AppDelegate final : public ShellEvents {
public:
    explicit AppDelegate(Application&);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // Called just before an update replaces the program: returns once the page has saved, or after two seconds.
    void flushForUpdate();

    // Links from the desktop, and the screens going to sleep (also what the test-only commands call).
    void openUrls(const std::vector<std::string>& urls) override;
    void screensDidSleep() override;

    static constexpr double sidebarWidth = 248.0;
    static constexpr double sidebarInset = 0.0;
    static constexpr double sidebarRadius = 0.0;

private:
    std::shared_ptr<Window> createWindow();
    std::shared_ptr<WebView> createWebView();
    void startUpdater();
    void startPrinter();
    void loadPage();
    void scheduleStartupRoutes();
    void runSelfTestIfAsked();

    // The orderly quit and the signals that end the program (AppDelegateShell.cpp).
    void requestQuit();
    bool windowCloseRequested();
    void watchTermination();
    void connectApplication();
    void connectNotifier();
    void printedFileArrived(const Json& info);
    void bringToFront();
    void systemLockEvent(SystemLockWatch::Event);
    void buildMenus();
    void menuCommand(const std::string& command);
    void menuAction(const std::string& action);
    void runCommandOrExplain(const std::string& cmd, const Json& args);
    void watchSystemLock();
    void watchFullScreen();

    Application& m_application;
    std::shared_ptr<Window> m_window;
    std::shared_ptr<WebView> m_webView;
    std::shared_ptr<InlinePromptView> m_inlinePrompt;
    Bridge m_bridge;
    WindowState m_windowState;
    PageRecovery m_pageRecovery;
    QuitCoordinator m_quit;
    LinkRouter m_links;
    // Menu commands chosen before the page had loaded (a quicklist item that started the program).
    std::vector<std::string> m_pendingMenuCommands;
    std::unique_ptr<SelfTest> m_selfTest;
    bool m_pageLoaded { false };
    bool m_quitFinished { false };
};

}
