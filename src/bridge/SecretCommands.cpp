#include "bridge/SecretCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "common/SecretBytes.h"
#include "platform/Clipboard.h"
#include "secrets/Secrets.h"

namespace quillpost::SecretCommands {

namespace {

const char* const noClipboard = "The clipboard isn't available in this copy of Quillpost.";

}

void copySecret(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    if (!bridge.secrets()) {
        reply.reply(false);
        return;
    }
    auto text = str(args, 0);
    bool copied = bridge.secrets()->secretClipboard().copySecret(text, doubleArgument(args, 1, 30));
    wipeString(text);
    reply.reply(copied);
}

void clipText(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (!bridge.secrets()) {
        reply.fail(noClipboard);
        return;
    }
    bridge.secrets()->clipboard().readText([reply](std::string text) { reply.reply(text); });
}

void clipSet(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    if (!bridge.secrets()) {
        reply.fail(noClipboard);
        return;
    }
    bridge.secrets()->clipboard().writeText(str(args, 0));
    reply.reply(true);
}

void clipConcealed(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (!bridge.secrets()) {
        reply.fail(noClipboard);
        return;
    }
    reply.reply(bridge.secrets()->clipboard().hasType(SecretClipboard::concealedType));
}

void seSelfTest(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (!bridge.secrets()) {
        reply.reply(Json { { "available", false } });
        return;
    }
    reply.reply(bridge.secrets()->sealer().seSelfTest());
}

}
