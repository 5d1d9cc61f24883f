// The application delegate's part of the desktop around the page: quitting, links, menus,
// notifications and the system's lock events.

#include "app/AppDelegate.h"

#include "app/MenuTable.h"
#include "app/PageHooks.h"
#include "platform/Application.h"
#include "platform/MenuBar.h"
#include "platform/Panels.h"
#include "platform/WebView.h"
#include "platform/Window.h"
#include "printinbox/PrintInbox.h"
#include "secrets/Secrets.h"
#include "updates/Notifier.h"
#include "updates/Updater.h"

#include <cstdio>
#include <cstdlib>

namespace quillpost {

void AppDelegate::requestQuit()
{
    m_quit.requestQuit(m_webView.get(), [this] {
        m_quitFinished = true;
        // A downloaded update goes in now that the page has saved; then the program ends.
        Updater::shared().installOnQuit([this] {
            if (m_window)
                m_window->close();
            m_application.quit();
        });
    });
}

void AppDelegate::flushForUpdate()
{
    m_quit.flushForUpdate(m_webView.get());
}

// Closing the main window quits the program, after the page has had its chance to save.
bool AppDelegate::windowCloseRequested()
{
    if (m_quitFinished)
        return true;
    requestQuit();
    return false;
}

void AppDelegate::watchTermination()
{
    // SIGTERM and the session's end can't be refused: the page gets a second to save what is
    // waiting, then the printer is stopped and the program ends with status 0.
    m_application.setOnTermination([this] {
        m_quit.terminate(m_webView.get(), [] {
            PrintInbox::shared().stop();
            std::fflush(nullptr);
            std::_Exit(0);
        });
    });
}

void AppDelegate::connectApplication()
{
    m_application.setOnOpen([this](const std::vector<std::string>& uris) { openUrls(uris); });
    // Started again while running: the same window comes back.
    m_application.setOnReopen([this] { bringToFront(); });
}

void AppDelegate::bringToFront()
{
    if (m_window)
        m_window->present();
}

void AppDelegate::openUrls(const std::vector<std::string>& urls)
{
    m_links.open(urls);
    bringToFront();
}

void AppDelegate::screensDidSleep()
{
    systemLockEvent(SystemLockWatch::Event::ScreensDidSleep);
}

void AppDelegate::systemLockEvent(SystemLockWatch::Event event)
{
    // The desktop's lock screen may want the fingerprint reader: ours lets go of it until the
    // window is back in use.
    if (auto* secrets = m_bridge.secrets())
        secrets->touchId().pauseChecks([this] { return m_application.isActive(); });
    // The page decides whether to lock; it hears of every occurrence.
    m_webView->evaluateScript(PageHooks::systemLock(PageHooks::systemLockDetail(event)));
}

void AppDelegate::connectNotifier()
{
    Notifier::shared().onClick = [this](const std::string& id) {
        bringToFront();
        m_webView->evaluateScript(PageHooks::notificationClick(id));
    };
}

void AppDelegate::printedFileArrived(const Json& info)
{
    // A job name is whatever the printing program sent; the page gets it as valid text.
    m_webView->evaluateScript(PageHooks::printed(info));
    if (m_application.isActive())
        return;
    auto notification = PageHooks::printedNotification(info);
    Notifier::shared().post(notification.id, notification.title, notification.body);
}

void AppDelegate::buildMenus()
{
    MenuBar::shared().install(mainMenu(), [this](const std::string& command) { menuCommand(command); },
        [this](const std::string& action) { menuAction(action); });
}

void AppDelegate::menuCommand(const std::string& command)
{
    bringToFront();
    // A quicklist item that started the program waits for the page, as links do.
    if (!m_pageLoaded) {
        m_pendingMenuCommands.push_back(command);
        return;
    }
    m_webView->evaluateScript(PageHooks::afterPageLoad(PageHooks::menuCommand(command)));
}

void AppDelegate::menuAction(const std::string& action)
{
    if (action == "quit")
        requestQuit();
    else if (action == "open-editor")
        runCommandOrExplain("openPdfCraft", Json::array({ "", "" }));
    else if (action == "check-updates")
        runCommandOrExplain("checkForUpdates", Json::array());
}

// Menu items whose work belongs to a page command run it directly; a failure is told in a dialog,
// since no page is waiting for the answer.
void AppDelegate::runCommandOrExplain(const std::string& cmd, const Json& args)
{
    m_bridge.handle(cmd, args, CommandReply([this](std::optional<std::string>, std::optional<std::string> error) {
        if (!error)
            return;
        Panels::shared().ask(m_window.get(), { *error, "", { "OK" } }, [](std::optional<size_t>) {});
    }));
}

void AppDelegate::watchSystemLock()
{
    SystemLockWatch::shared().start([this](SystemLockWatch::Event event) { systemLockEvent(event); });
}

void AppDelegate::watchFullScreen()
{
    m_window->setOnFullScreenChanged([this](bool fullScreen) { m_webView->evaluateScript(PageHooks::fullScreen(fullScreen)); });
}

}
