#pragma once

#include "bridge/CommandReply.h"
#include "common/Json.h"

#include <cstddef>

namespace quillpost {

class Bridge;

// The page on paper or as a PDF, password-locked handover PDFs, shareable copies of filled forms
// and the launcher badge.
namespace PrintCommands {

// PDFs of the page that may wait behind the one being made.
inline constexpr std::size_t maximumWaitingPrints = 8;

void printPdf(Bridge&, const Json& args, const CommandReply&);
void printPage(Bridge&, const Json& args, const CommandReply&);
void protectPdf(Bridge&, const Json& args, const CommandReply&);
void flattenPdf(Bridge&, const Json& args, const CommandReply&);
void setBadge(Bridge&, const Json& args, const CommandReply&);

}

// The virtual printer "Quillpost PDF" and the files printed to it.
namespace PrinterCommands {

void printerStatus(Bridge&, const Json& args, const CommandReply&);
void printerSetup(Bridge&, const Json& args, const CommandReply&);
void printerOff(Bridge&, const Json& args, const CommandReply&);
void listPrinted(Bridge&, const Json& args, const CommandReply&);
void readPrinted(Bridge&, const Json& args, const CommandReply&);
void openPrinted(Bridge&, const Json& args, const CommandReply&);
void deletePrinted(Bridge&, const Json& args, const CommandReply&);

}

}
