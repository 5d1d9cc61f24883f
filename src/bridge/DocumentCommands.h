#pragma once

#include "common/Json.h"
#include "store/Store.h"

#include <string_view>

namespace quillpost {

class Bridge;
class CommandReply;

// Client documents: filed into one folder per client under the documents root, and never a file
// outside it.
namespace DocumentCommands {

// 0: the client's name, 1: the folder names other clients hold, 2: create (default true). Answers
// the name of the client's own folder under the documents root (Store::claimClientFolder), or null.
void claimClientFolder(Bridge&, const Json& args, const CommandReply&);
void clientFolder(Bridge&, const Json& args, const CommandReply&);
void openFolder(Bridge&, const Json& args, const CommandReply&);
void saveDocument(Bridge&, const Json& args, const CommandReply&);
void listDocuments(Bridge&, const Json& args, const CommandReply&);
void openDocument(Bridge&, const Json& args, const CommandReply&);
void revealDocument(Bridge&, const Json& args, const CommandReply&);
void readDocument(Bridge&, const Json& args, const CommandReply&);
void deleteDocument(Bridge&, const Json& args, const CommandReply&);
void composeEmail(Bridge&, const Json& args, const CommandReply&);

// The answer to a read of a file for the page: its bytes, or why not ("Not allowed" for a file that
// isn't there or may not be read).
void replyWithRead(const CommandReply&, Store::PageRead);

// One address, as a mail client takes it; what the page may hand to the mail helper.
bool isEmailAddress(std::string_view);

}

}
