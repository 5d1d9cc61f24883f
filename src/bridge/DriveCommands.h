#pragma once

#include "common/Json.h"

namespace quillpost {

class Bridge;
class CommandReply;

// The commands of the documents root and the Google Drive folder it may live in.
namespace DriveCommands {

void driveDetect(Bridge&, const Json& args, const CommandReply&);
void driveConnect(Bridge&, const Json& args, const CommandReply&);
void driveConnectPath(Bridge&, const Json& args, const CommandReply&);
void driveDisconnect(Bridge&, const Json& args, const CommandReply&);
void chooseDocsRoot(Bridge&, const Json& args, const CommandReply&);

}

}
