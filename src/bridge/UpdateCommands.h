#pragma once

#include "bridge/CommandReply.h"
#include "common/Json.h"

namespace quillpost {

class Bridge;

// The program's own updates: what the updater knows, a check on request, automatic checks and
// downloads on or off.
namespace UpdateCommands {

void updateInfo(Bridge&, const Json& args, const CommandReply&);
void checkForUpdates(Bridge&, const Json& args, const CommandReply&);
void setAutoUpdate(Bridge&, const Json& args, const CommandReply&);
void setAutoDownload(Bridge&, const Json& args, const CommandReply&);

}

}
