#pragma once

#include "common/Json.h"

namespace quillpost {

class Bridge;
class CommandReply;

// Sharing the practice with other desks through a practice server.
namespace ShareCommands {

void shareStatus(Bridge&, const Json& args, const CommandReply&);
void shareTest(Bridge&, const Json& args, const CommandReply&);
void shareStart(Bridge&, const Json& args, const CommandReply&);
void shareStop(Bridge&, const Json& args, const CommandReply&);

}

}
