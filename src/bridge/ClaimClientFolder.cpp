#include "bridge/DocumentCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "common/Files.h"
#include "store/Store.h"

namespace quillpost::DocumentCommands {

void claimClientFolder(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    std::vector<std::string> held;
    if (args.is_array() && args.size() > 1 && args[1].is_array()) {
        for (const Json& name : args[1])
            if (name.is_string())
                held.push_back(name.get<std::string>());
    }
    const std::string client = str(args, 0);
    const bool create = booleanArgument(args, 2, true);
    // A documents root on a drive that isn't there is said so, and nothing is made in its place.
    if (const auto problem = create ? bridge.store().makeDocsRoot() : std::nullopt) {
        reply.fail(problem->message);
        return;
    }
    std::error_code error;
    const auto folder = bridge.store().claimClientFolder(client, held, create, error);
    if (error) {
        reply.fail(describeFileFailure("create the folder", bridge.store().docsRoot() / Store::safeName(client), error));
        return;
    }
    if (folder)
        reply.reply(*folder);
    else
        reply.replyNull();
}

}
