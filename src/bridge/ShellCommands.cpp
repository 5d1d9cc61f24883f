#include "bridge/ShellCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "platform/Panels.h"
#include "updates/Notifier.h"

namespace quillpost::ShellCommands {

void notify(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto* notifier = bridge.notifier();
    if (!notifier) {
        reply.fail("Notifications aren't available in this window.");
        return;
    }
    notifier->post(str(args, 0), str(args, 1), str(args, 2));
    reply.reply(true);
}

void simulateOpenURL(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    // The shell passes on only a text that forms a quillpost: link, as it does for the desktop's.
    if (bridge.shell())
        bridge.shell()->openUrls({ str(args, 0) });
    reply.reply(true);
}

// A file dropped outside the page's drop zone: WebKit loads it in the window as the user's own
// navigation, which the window's policies must refuse.
void simulateDrop(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    if (auto view = bridge.webView())
        view->loadRequest(str(args, 0));
    reply.reply(true);
}

void simulateScreenSleep(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (bridge.shell())
        bridge.shell()->screensDidSleep();
    reply.reply(true);
}

// Save dialogs from now on answer with this folder (an empty one cancels them) without showing.
void answerSaveDialogs(Bridge&, const Json& args, const CommandReply& reply)
{
    Panels::s_selfTestSaveFolder = str(args, 0);
    reply.reply(true);
}

}
