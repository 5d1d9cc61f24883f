#include "pdfcraft/PdfCraftWindow.h"

#include "platform/Panels.h"
#include "platform/Workspace.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

std::string schemeOf(const std::string& url)
{
    auto colon = url.find(':');
    if (colon == std::string::npos)
        return {};
    std::string scheme = url.substr(0, colon);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme;
}

}

std::shared_ptr<PdfCraftWindow> PdfCraftWindow::create(const Services& services, Options options, const PdfCraftScheme::Registry& docs,
    std::function<void(PdfCraftWindow&)> willClose)
{
    std::shared_ptr<PdfCraftWindow> editor(new PdfCraftWindow(services, std::move(willClose)));
    editor->setUp(std::move(options), docs);
    return editor;
}

PdfCraftWindow::PdfCraftWindow(const Services& services, std::function<void(PdfCraftWindow&)> willClose)
    : m_services(services)
    , m_willClose(std::move(willClose))
{
}

void PdfCraftWindow::setUp(Options options, const PdfCraftScheme::Registry& docs)
{
    WebViewConfiguration configuration;
    // Nothing the editor stores survives its window.
    configuration.ephemeral = true;
    configuration.schemeHandlers["pdfcraft"] = PdfCraftScheme::handler(std::move(options.root), docs);
    if (options.rules)
        configuration.contentRules.push_back(options.rules);
    configuration.inspectable = m_services.inspectable;
    m_webView = m_services.createWebView(std::move(configuration));

    Window::Options windowOptions;
    windowOptions.title = options.title;
    windowOptions.geometry = { width, height, false };
    windowOptions.minimumWidth = 800;
    windowOptions.minimumHeight = 560;
    windowOptions.background = { 0.945, 0.945, 0.953, 1.0 };
    windowOptions.pageDrawsTitleBar = false;
    m_window = m_services.createWindow(windowOptions);
    m_window->setContent(*m_webView);

    std::weak_ptr<PdfCraftWindow> weak = weak_from_this();
    m_window->setOnCloseRequest([weak] {
        auto self = weak.lock();
        return !self || self->shouldClose();
    });
    m_window->setOnClose([weak] {
        if (auto self = weak.lock())
            self->m_willClose(*self);
    });
    m_webView->setInspectable(m_services.inspectable);
    m_webView->setPolicies(policies());
    m_webView->loadRequest(options.url);
    if (options.visible)
        m_window->present();
}

PdfCraftWindow::~PdfCraftWindow()
{
    // A window that goes without an answer is closed all the same.
    reportClose(true);
}

void PdfCraftWindow::close()
{
    m_closing = true;
    m_window->close();
    reportClose(true);
}

void PdfCraftWindow::requestClose(std::function<void(bool closed)> outcome)
{
    if (m_closing) {
        outcome(true);
        return;
    }
    m_closeOutcomes.push_back(std::move(outcome));
    // A question already open answers this request too.
    if (!m_asking)
        m_window->performClose();
}

void PdfCraftWindow::reportClose(bool closed)
{
    for (auto& outcome : std::exchange(m_closeOutcomes, {}))
        outcome(closed);
}

bool PdfCraftWindow::shouldClose()
{
    if (m_closing)
        return true;
    if (m_asking)
        return false;
    m_asking = true;
    std::weak_ptr<PdfCraftWindow> weak = weak_from_this();
    m_webView->evaluateScript(unsavedProbe, [weak](std::optional<Json> result, std::string) {
        auto self = weak.lock();
        if (!self)
            return;
        // A probe that fails counts as nothing unsaved: the window must stay closable.
        if (result && result->is_boolean() && result->get<bool>()) {
            self->askAboutUnsavedChanges();
            return;
        }
        self->m_asking = false;
        self->close();
    });
    return false;
}

void PdfCraftWindow::askAboutUnsavedChanges()
{
    Panels::Question question {
        "This PDF has changes that aren't saved yet.",
        "Use PdfCraft's Save button first, or close without saving.",
        { "Keep editing", "Close without saving" },
    };
    std::weak_ptr<PdfCraftWindow> weak = weak_from_this();
    m_services.panels.ask(m_window.get(), question, [weak](std::optional<size_t> button) {
        auto self = weak.lock();
        if (!self)
            return;
        self->m_asking = false;
        if (button == 1u)
            self->close();
        else
            self->reportClose(false);
    });
}

NavigationDecision PdfCraftWindow::decideNavigation(const NavigationAction& action)
{
    if (action.isDownload)
        return NavigationDecision::Download;
    if (action.url.empty())
        return NavigationDecision::Cancel;
    static constexpr std::array<std::string_view, 4> local { "pdfcraft", "blob", "data", "about" };
    const std::string scheme = schemeOf(action.url);
    if (std::find(local.begin(), local.end(), scheme) != local.end())
        return NavigationDecision::Allow;
    // Links to the web open in the user's browser, only when the user followed one: a script of
    // the editor alone can't carry anything out. The editor itself stays offline.
    if (scheme == "https" && !action.targetsSubframe && action.userGesture)
        m_services.workspace.openUri(action.url);
    return NavigationDecision::Cancel;
}

WebViewPolicies PdfCraftWindow::policies()
{
    std::weak_ptr<PdfCraftWindow> weak = weak_from_this();
    WebViewPolicies policies;
    policies.decideNavigation = [weak](const NavigationAction& action) {
        auto self = weak.lock();
        return self ? self->decideNavigation(action) : NavigationDecision::Cancel;
    };
    policies.downloadUnshowableResponses = true;
    policies.onNewWindowRequest = [weak](const NavigationAction& action) {
        auto self = weak.lock();
        if (self && schemeOf(action.url) == "https" && action.userGesture)
            self->m_services.workspace.openUri(action.url);
    };
    policies.chooseDownloadDestination = [weak](const std::string& suggestedName, std::function<void(std::optional<fs::path>)> done) {
        auto self = weak.lock();
        if (!self) {
            done(std::nullopt);
            return;
        }
        std::optional<std::string> start;
        if (self->m_services.documentsFolder)
            start = self->m_services.documentsFolder->string();
        self->m_services.panels.chooseSaveLocation(self->m_window.get(), suggestedName, start, [done](std::optional<std::string> chosen) {
            if (!chosen) {
                done(std::nullopt);
                return;
            }
            // The user agreed to replace what is there. Only a file or an empty folder goes;
            // a failure leaves the download to report it.
            std::error_code ignored;
            fs::remove(*chosen, ignored);
            done(fs::path(*chosen));
        });
    };
    policies.chooseFiles = [weak](bool multiple, std::function<void(std::vector<fs::path>)> done) {
        auto self = weak.lock();
        if (!self) {
            done({});
            return;
        }
        self->m_services.panels.chooseFiles(self->m_window.get(), multiple, [done](std::vector<std::string> chosen) {
            done(std::vector<fs::path>(chosen.begin(), chosen.end()));
        });
    };
    policies.alert = [weak](const std::string& message, std::function<void()> done) {
        auto self = weak.lock();
        if (!self) {
            done();
            return;
        }
        self->m_services.panels.ask(self->m_window.get(), { message, {}, { "OK" } }, [done](std::optional<size_t>) { done(); });
    };
    policies.confirm = [weak](const std::string& message, std::function<void(bool)> done) {
        auto self = weak.lock();
        if (!self) {
            done(false);
            return;
        }
        self->m_services.panels.ask(self->m_window.get(), { message, {}, { "OK", "Cancel" } }, [done](std::optional<size_t> button) {
            done(button == 0u);
        });
    };
    return policies;
}

}
