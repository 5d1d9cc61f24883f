#pragma once

#include "common/Json.h"
#include "platform/SystemLockWatch.h"

#include <string>

namespace quillpost {

// The scripts through which the program calls into the page. Each hook is guarded, so a page
// that hasn't defined it ignores the call; text from outside (links, identifiers, file names)
// always reaches the page as a JSON string literal, never as script.
namespace PageHooks {

// The text as a JSON string literal, quotes included; invalid UTF-8 becomes U+FFFD.
std::string stringLiteral(const std::string&);

// Runs the call once the page's own scripts have run: WebKitGTK reports a load as finished while
// the page's modules may still be waiting to run, and a hook called then would find nothing.
std::string afterPageLoad(const std::string& call);

std::string menuCommand(const std::string& command);
std::string link(const std::string& link);
// A click on a notification: the printed-file route for "printed:" identifiers, else the page's hook.
std::string notificationClick(const std::string& id);
std::string printed(const Json& info);
std::string systemLock(const std::string& detail);
// The qp-system-lock event's detail: the names the page has always been given for these moments.
std::string systemLockDetail(SystemLockWatch::Event);
std::string fullScreen(bool entered);
// How a download the page started ended (MainViewPolicies' downloadRecord).
std::string downloadEnded(const Json& record);
// Records other desks changed: { changes: [{ collection, id, record }] }, a null record being a deletion.
std::string sharedChanges(const Json& changes);
// The practice server's sharing state, as shareStatus answers it.
std::string shareState(const Json& status);

// The program's own notification about a printed file that arrived while it was in the background.
struct Notification {
    std::string id;
    std::string title;
    std::string body;
};
Notification printedNotification(const Json& info);

}

}
