#include "app/AppDelegate.h"

#include "app/AppScheme.h"
#include "app/BetaDataQuestion.h"
#include "app/MainViewPolicies.h"
#include "app/PageHooks.h"
#include "common/Deflate.h"
#include "common/Files.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Fingerprint.h"
#include "platform/HttpClient.h"
#include "platform/InlinePromptView.h"
#include "platform/InstallLayout.h"
#include "platform/LauncherBadge.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/NestedLoop.h"
#include "platform/Panels.h"
#include "platform/ProcessRunner.h"
#include "platform/WebView.h"
#include "platform/Window.h"
#include "platform/Workspace.h"
#include "pdfcraft/PdfCraft.h"
#include "secrets/Secrets.h"
#include "printinbox/PrintInbox.h"
#include "selftest/SelfTestPdfCraft.h"
#include "share/PracticeShare.h"
#include "store/Store.h"
#include "updates/Updater.h"
#include "updates/Notifier.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace quillpost {

static constexpr const char* windowStateName = "QuillpostMain";

static const char* environment(const char* name)
{
    return std::getenv(name);
}

AppDelegate::AppDelegate(Application& application)
    : m_application(application)
    , m_bridge({
          .store = Store::shared(),
          .panels = Panels::shared(),
          .workspace = Workspace::shared(),
          .processes = ProcessRunner::shared(),
          .mainQueue = MainQueue::shared(),
          .selfTest = environment("QUILLPOST_SELFTEST") != nullptr,
          .http = &HttpClient::shared(),
          .secrets = &Secrets::shared(),
          .printInbox = &PrintInbox::shared(),
          .badge = &LauncherBadge::shared(),
          .updater = &Updater::shared(),
          .pdfcraft = &PdfCraft::shared(),
          .notifier = &Notifier::shared(),
          .shell = this,
          .share = &PracticeShare::shared(),
      })
    , m_windowState(WindowState::defaultFile())
    , m_pageRecovery(Clock::system(), MainQueue::shared(), [this] { m_webView->reload(); }, [](const std::string& message) { Log::error(message); })
    , m_quit(MainQueue::shared(), NestedLoop::shared(), [](std::function<void(bool)> done) { PdfCraft::shared().closeBeforeQuit(std::move(done)); })
    , m_links([this](const std::string& script) { m_webView->evaluateScript(script); })
{
    PdfCraft::setApplication(m_application);
}

void AppDelegate::applicationDidFinishLaunching()
{
    // The practice is read, checked and deflated, as the page will ask for it, while the window
    // and its page start.
    Store::shared().readAhead(deflated);
    if (auto* appearance = environment("QUILLPOST_APPEARANCE"))
        m_application.setAppearance(std::string_view(appearance) == "dark" ? Application::Appearance::Dark : Application::Appearance::Light);

    buildMenus();

    m_window = createWindow();
    m_window->addSidebarBackdrop(sidebarWidth, sidebarInset, sidebarRadius);

    m_webView = createWebView();
    m_webView->setInspectable(environment("QUILLPOST_INSPECT") != nullptr);
    m_webView->setOnLoadFinished([this] {
        m_pageLoaded = true;
        // A version that shows its page has started properly: an update on trial is kept.
        Updater::shared().startedOnce();
        for (auto& command : std::exchange(m_pendingMenuCommands, {}))
            m_webView->evaluateScript(PageHooks::afterPageLoad(PageHooks::menuCommand(command)));
        m_links.pageLoaded();
        // Sharing starts once there is a page to take other desks' changes.
        PracticeShare::shared().resume();
        PracticeShare::shared().pageLoaded();
    });
    m_webView->setPolicies(mainViewPolicies(Workspace::shared(), Panels::shared(), m_window,
        [this](const Json& record) { m_webView->evaluateScript(PageHooks::downloadEnded(record)); }));
    m_webView->setOnWebProcessTerminated([this](const std::string& reason) { m_pageRecovery.webProcessTerminated(reason); });
    m_window->setContent(*m_webView);

    m_bridge.setWebView(m_webView);
    m_bridge.setWindow(m_window);
    m_inlinePrompt = InlinePromptView::create(*m_window, *m_webView);
    Secrets::shared().touchId().setInlineView(m_inlinePrompt);

    connectApplication();
    // The editor's update reports its steps to the page.
    PdfCraft::shared().progress = [this](const Json& event) {
        m_webView->evaluateScript("window.__qpPcProgress && window.__qpPcProgress(" + event.dump(-1, ' ', false, Json::error_handler_t::replace) + ")");
    };
    connectNotifier();
    PracticeShare::shared().deliver = [this](const Json& changes) { m_webView->evaluateScript(PageHooks::afterPageLoad(PageHooks::sharedChanges(changes))); };
    PracticeShare::shared().stateChanged = [this](const Json& status) { m_webView->evaluateScript(PageHooks::shareState(status)); };
    watchTermination();
    watchSystemLock();
    watchFullScreen();

    startUpdater();

    // The printer starts at launch; printed files reach the page once it has loaded.
    startPrinter();

    m_window->addDragStrip(sidebarWidth, 24);

    // The window is shown first so that the question about the beta's data is a dialog on it;
    // the page loads only after the answer, so it reads the data that was kept.
    m_window->present();
    askAboutBetaData(Store::shared(), Panels::shared(), m_window.get(), [this] {
        loadPage();
        scheduleStartupRoutes();
    });
    runSelfTestIfAsked();
}

std::shared_ptr<Window> AppDelegate::createWindow()
{
    Window::Options options;
    options.title = "Quillpost";
    options.geometry = m_windowState.geometry(windowStateName).value_or(WindowGeometry { 1400, 900, false });
    options.minimumWidth = 960;
    options.minimumHeight = 640;
    options.background = { 0.98, 0.965, 0.945, 1.0 };
    auto window = Window::create(m_application, options);
    window->setOnClose([this] {
        m_windowState.save(windowStateName, m_window->geometry());
    });
    window->setOnCloseRequest([this] { return windowCloseRequested(); });
    return window;
}

std::shared_ptr<WebView> AppDelegate::createWebView()
{
    WebViewConfiguration configuration;
    configuration.userScripts.push_back({ std::string(pageApiScript()) });
    // The title bar keeps room for the window buttons where the desktop puts them.
    auto sides = m_window->windowButtonSides();
    configuration.userScripts.push_back({ std::string("document.documentElement.classList.add('native-glass'")
        + (sides.start ? ", 'buttons-start'" : "") + (sides.end ? ", 'buttons-end'" : "") + ")" });
    configuration.messageHandlers.push_back({ Bridge::handlerName, [this](const Json& body, ScriptReplyHandler reply) {
                                                 m_bridge.receive(body, std::move(reply));
                                             } });
    configuration.schemeHandlers[std::string(AppScheme::scheme)] = AppScheme::handler([] { return InstallLayout::pageFolder(); });
    configuration.schemeHandlers[std::string(ByteChannel::scheme)] = m_bridge.byteChannel().handler();
    configuration.trustedOrigin = AppScheme::origin;
    configuration.drawsBackground = false;

    // Automated tests of the page bring their own script; only a self-test run accepts one.
    if (environment("QUILLPOST_SELFTEST")) {
        if (auto* testScript = environment("QUILLPOST_TEST_SCRIPT")) {
            if (auto source = readFile(testScript)) {
                configuration.userScripts.push_back({ *source, WebViewConfiguration::UserScript::InjectionTime::DocumentEnd });
                configuration.consoleToStandardOutput = true;
            }
        }
    }
    return WebView::create(std::move(configuration));
}

// QUILLPOST_SELFTEST=<folder> runs the program through its life without a user and quits. A
// test run that brings its own page script (QUILLPOST_TEST_SCRIPT) is driven by that instead.
void AppDelegate::runSelfTestIfAsked()
{
    auto options = SelfTest::Options::fromEnvironment(environment);
    if (!options || environment("QUILLPOST_TEST_SCRIPT"))
        return;
    SelfTestPdfCraft editorChecks { PdfCraft::shared(), MainQueue::shared(), options->folder, options->editorUpdate };
    m_selfTest = std::make_unique<SelfTest>(std::move(*options), SelfTest::Services {
        .mainQueue = MainQueue::shared(),
        .page = *m_webView,
        .window = *m_window,
        .badgeLabel = [] { return LauncherBadge::shared().label(); },
        .notifications = [] {
            Json list = Json::array();
            for (auto& record : Notifier::shared().recorded().value_or(std::vector<Notifier::Record> {}))
                list.push_back(Json { { "id", record.id }, { "title", record.title }, { "body", record.body } });
            return list;
        },
        .fingerprint = [] {
            auto availability = Fingerprint::shared().availability();
            return SelfTest::FingerprintState { availability.available, availability.reason };
        },
        .editorChecks = [editorChecks](std::function<void(Json)> answer) { editorChecks.run(std::move(answer)); },
        .quit = [this] { requestQuit(); },
    });
    m_selfTest->start();
}

void AppDelegate::startUpdater()
{
    auto& updater = Updater::shared();
    updater.evaluateInPage = [this](const std::string& script) { m_webView->evaluateScript(script); };
    updater.flushForUpdate = [this](std::function<void()> then) {
        flushForUpdate();
        then();
    };
    updater.quit = [this] { requestQuit(); };
    updater.start();
}

void AppDelegate::startPrinter()
{
    auto& inbox = PrintInbox::shared();
    inbox.onArrive = [this](const Json& info) { printedFileArrived(info); };
    // A test run with its own data folder leaves the printing system alone unless it asks for the printer.
    if (Store::locationFromEnvironment().directoryOverridden && !environment("QUILLPOST_PRINTER_TEST"))
        return;
    inbox.start();
}

void AppDelegate::applicationWillTerminate()
{
    PrintInbox::shared().stop();
}

void AppDelegate::loadPage()
{
    auto page = InstallLayout::pageFolder() / "index.html";
    std::error_code error;
    // Without its page the window says what is wrong (the scheme answers with a page that does).
    if (!std::filesystem::is_regular_file(page, error))
        Log::error("Quillpost's page is missing: " + page.string());
    m_webView->loadRequest(std::string(AppScheme::pageAddress));
}

void AppDelegate::scheduleStartupRoutes()
{
    auto& mainQueue = MainQueue::shared();
    if (auto* open = environment("QUILLPOST_OPEN")) {
        std::string route(open);
        std::erase(route, '\'');
        mainQueue.after(std::chrono::milliseconds(2500), [this, route] {
            m_webView->evaluateScript("location.hash = '" + route + "'");
        });
    }
    if (environment("QUILLPOST_FULLSCREEN")) {
        mainQueue.after(std::chrono::milliseconds(1500), [this] {
            m_window->toggleFullScreen();
        });
    }
}

}
