#include "bridge/PrintCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "bridge/DocumentCommands.h"
#include "common/Files.h"
#include "platform/Workspace.h"
#include "printinbox/PrintInbox.h"
#include "store/Store.h"

namespace quillpost::PrinterCommands {

namespace {

PrintInbox* inboxOrFail(Bridge& bridge, const CommandReply& reply)
{
    auto* inbox = bridge.printInbox();
    if (!inbox)
        reply.fail("The Quillpost PDF printer isn't part of this window.");
    return inbox;
}

}

void printerStatus(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (auto* inbox = inboxOrFail(bridge, reply))
        inbox->status([reply](Json status) { reply.reply(status); });
}

void printerSetup(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto* inbox = inboxOrFail(bridge, reply);
    if (!inbox)
        return;
    bridge.store().config().erase("printer");
    bridge.store().saveConfig();
    inbox->start([inbox, reply] {
        inbox->ensureQueue([inbox, reply](bool ok) {
            inbox->status([reply, ok](Json status) {
                status["ok"] = ok;
                reply.reply(status);
            });
        });
    });
}

void printerOff(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto* inbox = inboxOrFail(bridge, reply);
    if (!inbox)
        return;
    inbox->stop();
    auto& store = bridge.store();
    store.config()["printer"] = "off";
    store.saveConfig();
    inbox->removeQueue([inbox, reply] {
        inbox->status([reply](Json status) { reply.reply(status); });
    });
}

void listPrinted(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (auto* inbox = inboxOrFail(bridge, reply))
        reply.reply(inbox->list());
}

void readPrinted(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto* inbox = inboxOrFail(bridge, reply);
    if (!inbox)
        return;
    auto file = inbox->inside(str(args, 0));
    if (!file) {
        reply.fail("Not allowed");
        return;
    }
    bridge.store().readBelow(inbox->inboxFolder(), *file, [reply](Store::PageRead read) { DocumentCommands::replyWithRead(reply, std::move(read)); });
}

void openPrinted(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto* inbox = inboxOrFail(bridge, reply);
    if (!inbox)
        return;
    auto file = inbox->inside(str(args, 0));
    reply.reply(file && bridge.workspace().openFile(*file));
}

void deletePrinted(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto* inbox = inboxOrFail(bridge, reply);
    if (!inbox)
        return;
    auto file = inbox->inside(str(args, 0));
    reply.reply(file && bridge.workspace().moveToTrash(*file));
}

}
