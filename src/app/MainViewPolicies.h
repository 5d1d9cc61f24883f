#pragma once

#include "platform/WebView.h"

#include <string_view>

namespace quillpost {

class Panels;
class Window;
class Workspace;

// The main page behaves like a document window, not a browser: it never navigates away from its
// own origin, web and mail links leave for the
// user's browser and mail program, no second web window ever opens, downloads are saved where the
// user says (in Downloads to begin with), and file pickers and script dialogs are dialogs on the
// main window.
// How each download ended goes to tellPage as downloadRecord describes it.
WebViewPolicies mainViewPolicies(Workspace&, Panels&, std::weak_ptr<Window> window, std::function<void(const Json&)> tellPage = {});

// What the page hears of a download: {url, result: "saved" | "cancelled" | "failed", name, folder,
// inDownloads, size, message}. The page shows "…is in your Downloads folder" only from this.
Json downloadRecord(const DownloadOutcome&, const std::optional<std::filesystem::path>& downloadsFolder);

// "http", "https" and "mailto", as the URL writes its scheme.
bool isExternalScheme(std::string_view url);

}
