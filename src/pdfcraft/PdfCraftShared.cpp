#include "pdfcraft/PdfCraft.h"

#include "platform/HttpClient.h"
#include "platform/InstallLayout.h"
#include "platform/Log.h"
#include "platform/Panels.h"
#include "platform/ProcessRunner.h"
#include "platform/Workspace.h"
#include "store/Store.h"

#include <cstdlib>
#include <glib.h>
#include <stdexcept>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

Application* s_application = nullptr;

std::optional<fs::path> documentsFolder()
{
    const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    std::error_code error;
    if (documents && fs::is_directory(documents, error))
        return fs::path(documents);
    return std::nullopt;
}

// Compiled rule lists are a cache: kept out of the data directory, whose editor folder is cleaned.
fs::path rulesFolder()
{
    return fs::path(g_get_user_cache_dir()) / "quillpost" / "content-rules";
}

}

void PdfCraft::setApplication(Application& application)
{
    s_application = &application;
}

PdfCraft& PdfCraft::shared()
{
    static PdfCraft* const host = new PdfCraft({
        .store = Store::shared(),
        .mainQueue = MainQueue::shared(),
        .clock = Clock::system(),
        .http = HttpClient::shared(),
        .processes = ProcessRunner::shared(),
        .windows = {
            .createWindow = [](const Window::Options& options) {
                if (!s_application)
                    throw std::logic_error("PdfCraft windows need the application");
                return Window::create(*s_application, options);
            },
            .createWebView = [](WebViewConfiguration configuration) { return WebView::create(std::move(configuration)); },
            .panels = Panels::shared(),
            .workspace = Workspace::shared(),
            .documentsFolder = documentsFolder(),
            .inspectable = std::getenv("QUILLPOST_INSPECT") != nullptr,
        },
        .compileRules = [](const std::string& identifier, const std::string& source, RulesCompletion completion) {
            WebView::compileContentRules(rulesFolder(), identifier, source, std::move(completion));
        },
        .builtInSite = InstallLayout::pdfcraftSite(),
        .releasesURL = PdfCraftRelease::listingURL(),
        .log = [](const std::string& message) { Log::error(message); },
    });
    return *host;
}

}
