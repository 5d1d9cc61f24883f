#include "bridge/UpdateCommands.h"

#include "bridge/Bridge.h"
#include "updates/Updater.h"

namespace quillpost::UpdateCommands {

namespace {

Updater& updaterOf(Bridge& bridge)
{
    if (!bridge.updater())
        throw std::runtime_error("Updates aren't available in this copy of Quillpost.");
    return *bridge.updater();
}

}

void updateInfo(Bridge& bridge, const Json&, const CommandReply& reply)
{
    reply.reply(updaterOf(bridge).info());
}

void checkForUpdates(Bridge& bridge, const Json&, const CommandReply& reply)
{
    updaterOf(bridge).checkNow();
    reply.reply(true);
}

void setAutoUpdate(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    bool on = args.is_array() && !args.empty() && args[0].is_boolean() ? args[0].get<bool>() : true;
    auto& updater = updaterOf(bridge);
    updater.setAutomatic(on);
    reply.reply(updater.info());
}

void setAutoDownload(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    if (!args.is_array() || args.empty() || !args[0].is_boolean()) {
        reply.fail("Say whether updates download by themselves (true or false).");
        return;
    }
    auto& updater = updaterOf(bridge);
    updater.setAutoDownload(args[0].get<bool>());
    reply.reply(updater.info());
}

}
