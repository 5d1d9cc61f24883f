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
WebViewPolicies mainViewPolicies(Workspace&, Panels&, std::weak_ptr<Window> window);

// "http", "https" and "mailto", as the URL writes its scheme.
bool isExternalScheme(std::string_view url);

}
