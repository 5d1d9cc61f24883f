#include "bridge/NetCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "net/IrccFeed.h"
#include "net/Relay.h"

namespace quillpost::NetCommands {

void irccFeed(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (!bridge.http()) {
        reply.reply(Json { { "ok", false }, { "error", "Couldn't reach the IRCC update service (there is no network here)." } });
        return;
    }
    IrccFeed::fetch(*bridge.http(), IrccFeed::source(), [reply](Json answer) { reply.reply(answer); });
}

void relay(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    if (!bridge.http()) {
        reply.fail("Couldn't reach the relay (there is no network here).");
        return;
    }
    Relay::call(*bridge.http(), dictionaryArgument(args), bridge.selfTest(),
        [reply](Json answer) { reply.reply(answer); },
        [reply](const std::string& message) { reply.fail(message); });
}

}
