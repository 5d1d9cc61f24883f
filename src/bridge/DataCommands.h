#pragma once

#include "common/Json.h"

namespace quillpost {

class Bridge;
class CommandReply;

// The commands of the data file, its settings, snapshots and backup copy.
namespace DataCommands {

void load(Bridge&, const Json& args, const CommandReply&);
// The document's text as bytes, which a large practice receives through the byte channel.
void loadText(Bridge&, const Json& args, const CommandReply&);
void save(Bridge&, const Json& args, const CommandReply&);
// The records that changed since the last save, as edits to its text; refused when they don't fit.
void saveEdits(Bridge&, const Json& args, const CommandReply&);
void info(Bridge&, const Json& args, const CommandReply&);
void dataStatus(Bridge&, const Json& args, const CommandReply&);
void openDataFolder(Bridge&, const Json& args, const CommandReply&);
void chooseBackupFolder(Bridge&, const Json& args, const CommandReply&);
void clearBackupFolder(Bridge&, const Json& args, const CommandReply&);
void listSnapshots(Bridge&, const Json& args, const CommandReply&);
void recoveryCopy(Bridge&, const Json& args, const CommandReply&);
void restoreSnapshot(Bridge&, const Json& args, const CommandReply&);
void backupCandidates(Bridge&, const Json& args, const CommandReply&);
void readSnapshot(Bridge&, const Json& args, const CommandReply&);
void plainCopies(Bridge&, const Json& args, const CommandReply&);
void removePlainCopies(Bridge&, const Json& args, const CommandReply&);

}

}
