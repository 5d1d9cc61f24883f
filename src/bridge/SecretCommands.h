#pragma once

#include "bridge/CommandReply.h"
#include "common/Json.h"

namespace quillpost {

class Bridge;

// The vault's clipboard, and the self-test's probes of sealing and of the clipboard.
namespace SecretCommands {

void copySecret(Bridge&, const Json& args, const CommandReply&);
void clipText(Bridge&, const Json& args, const CommandReply&);
void clipSet(Bridge&, const Json& args, const CommandReply&);
void clipConcealed(Bridge&, const Json& args, const CommandReply&);
void seSelfTest(Bridge&, const Json& args, const CommandReply&);

}

}
