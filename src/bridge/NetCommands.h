#pragma once

#include "bridge/CommandReply.h"
#include "common/Json.h"

namespace quillpost {

class Bridge;

// The commands that reach the network: the signed IRCC feed and the relay to the practice's server.
namespace NetCommands {

void irccFeed(Bridge&, const Json& args, const CommandReply&);
void relay(Bridge&, const Json& args, const CommandReply&);

}

}
