#pragma once

#include "pdfcraft/PdfCraftScheme.h"
#include "platform/WebView.h"
#include "platform/Window.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillpost {

class Panels;
class Workspace;

// One editor window: its web view, offline and ephemeral, served by a PdfCraftScheme, and the
// window's answers to closing, links, downloads, file pickers and script dialogs.
class PdfCraftWindow : public std::enable_shared_from_this<PdfCraftWindow> {
public:
    struct Services {
        std::function<std::shared_ptr<Window>(const Window::Options&)> createWindow;
        std::function<std::shared_ptr<WebView>(WebViewConfiguration)> createWebView;
        Panels& panels;
        Workspace& workspace;
        // Where a save dialog starts: the user's Documents folder, when there is one.
        std::optional<std::filesystem::path> documentsFolder {};
        // QUILLPOST_INSPECT is set.
        bool inspectable { false };
    };

    struct Options {
        std::string url;
        std::string title;
        std::shared_ptr<ContentRuleList> rules;
        PdfCraftScheme::Root root;
        bool visible { true };
    };

    static constexpr int width = 1300;
    static constexpr int height = 880;
    static constexpr const char* unsavedProbe = "typeof window.onbeforeunload === 'function'";

    ~PdfCraftWindow();

    // willClose runs as the window closes.
    static std::shared_ptr<PdfCraftWindow> create(const Services&, Options, const PdfCraftScheme::Registry& docs,
        std::function<void(PdfCraftWindow&)> willClose);

    Window& window() { return *m_window; }
    WebView& webView() { return *m_webView; }
    bool closing() const { return m_closing; }

    // As the close button: the page may have unsaved changes to ask about.
    void performClose() { m_window->performClose(); }
    // As the close button, then tells whether the window closed or the user kept it.
    void requestClose(std::function<void(bool closed)> outcome);
    // Closes without asking.
    void close();

    NavigationDecision decideNavigation(const NavigationAction&);

private:
    PdfCraftWindow(const Services&, std::function<void(PdfCraftWindow&)> willClose);
    void setUp(Options, const PdfCraftScheme::Registry&);
    bool shouldClose();
    void askAboutUnsavedChanges();
    void reportClose(bool closed);
    WebViewPolicies policies();

    Services m_services;
    std::function<void(PdfCraftWindow&)> m_willClose;
    std::shared_ptr<Window> m_window;
    std::shared_ptr<WebView> m_webView;
    bool m_closing { false };
    // The probe or the question is under way; another close click waits for it.
    bool m_asking { false };
    // Those waiting to hear how a close they asked for ended.
    std::vector<std::function<void(bool closed)>> m_closeOutcomes;
};

}
