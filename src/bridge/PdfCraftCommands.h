#pragma once

#include "bridge/CommandReply.h"
#include "common/Json.h"

namespace quillpost {

class Bridge;

// The PDF editor: its windows, and its installed version's checks, updates and rollback.
namespace PdfCraftCommands {

void openPdfCraft(Bridge&, const Json& args, const CommandReply&);
void hasPdfCraft(Bridge&, const Json& args, const CommandReply&);
void pdfcraftInfo(Bridge&, const Json& args, const CommandReply&);
void pdfcraftCheck(Bridge&, const Json& args, const CommandReply&);
void pdfcraftUpdate(Bridge&, const Json& args, const CommandReply&);
void pdfcraftRollback(Bridge&, const Json& args, const CommandReply&);
void pdfcraftCloseAll(Bridge&, const Json& args, const CommandReply&);

// Test runs only: runs the body of an async function in the newest editor window and answers
// what it returns.
void pdfcraftProbe(Bridge&, const Json& args, const CommandReply&);
// Test runs only: writes a PNG of the newest editor window's page to the path given.
void pdfcraftSnapshot(Bridge&, const Json& args, const CommandReply&);

}

}
