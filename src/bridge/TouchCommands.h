#pragma once

#include "bridge/CommandReply.h"
#include "common/Json.h"

namespace quillpost {

class Bridge;

// Fingerprint unlock of the data passphrase (touchId…) and of the vault passphrase (vaultTouch…).
namespace TouchCommands {

void touchIdAvailable(Bridge&, const Json& args, const CommandReply&);
void touchIdStatus(Bridge&, const Json& args, const CommandReply&);
void touchIdEnabled(Bridge&, const Json& args, const CommandReply&);
void touchIdSave(Bridge&, const Json& args, const CommandReply&);
void touchIdClear(Bridge&, const Json& args, const CommandReply&);
void touchIdUnlock(Bridge&, const Json& args, const CommandReply&);
void touchIdInline(Bridge&, const Json& args, const CommandReply&);
void touchIdInlineMove(Bridge&, const Json& args, const CommandReply&);
void touchIdInlineCancel(Bridge&, const Json& args, const CommandReply&);

void vaultTouchEnabled(Bridge&, const Json& args, const CommandReply&);
void vaultTouchSave(Bridge&, const Json& args, const CommandReply&);
void vaultTouchClear(Bridge&, const Json& args, const CommandReply&);
void vaultTouchUnlock(Bridge&, const Json& args, const CommandReply&);

}

}
