#include "bridge/CommandTable.h"

#include "bridge/Bridge.h"
#include "bridge/DataCommands.h"
#include "bridge/NetCommands.h"
#include "bridge/DocumentCommands.h"
#include "bridge/DriveCommands.h"
#include "bridge/SecretCommands.h"
#include "bridge/TouchCommands.h"
#include "bridge/UpdateCommands.h"
#include "bridge/PdfCraftCommands.h"
#include "bridge/PrintCommands.h"
#include "bridge/ShellCommands.h"
#include "bridge/ShareCommands.h"

#include <array>
#include <exception>

namespace quillpost {

namespace {

using enum Command::Availability;

constexpr Command command(std::string_view name, CommandFunction run) { return { name, Always, run }; }
constexpr Command testOnly(std::string_view name, CommandFunction run) { return { name, SelfTestOnly, run }; }

constexpr auto commands = std::to_array<Command>({
    command("load", DataCommands::load),
    command("loadText", DataCommands::loadText),
    command("save", DataCommands::save),
    command("saveEdits", DataCommands::saveEdits),
    command("info", DataCommands::info),
    command("dataStatus", DataCommands::dataStatus),
    command("openDataFolder", DataCommands::openDataFolder),
    command("chooseBackupFolder", DataCommands::chooseBackupFolder),
    command("clearBackupFolder", DataCommands::clearBackupFolder),
    command("listSnapshots", DataCommands::listSnapshots),
    command("recoveryCopy", DataCommands::recoveryCopy),
    command("restoreSnapshot", DataCommands::restoreSnapshot),
    command("backupCandidates", DataCommands::backupCandidates),
    command("readSnapshot", DataCommands::readSnapshot),
    command("plainCopies", DataCommands::plainCopies),
    command("removePlainCopies", DataCommands::removePlainCopies),

    command("shareStatus", ShareCommands::shareStatus),
    command("shareTest", ShareCommands::shareTest),
    command("shareStart", ShareCommands::shareStart),
    command("shareStop", ShareCommands::shareStop),

    command("driveDetect", DriveCommands::driveDetect),
    command("driveConnect", DriveCommands::driveConnect),
    command("driveConnectPath", DriveCommands::driveConnectPath),
    command("driveDisconnect", DriveCommands::driveDisconnect),
    command("chooseDocsRoot", DriveCommands::chooseDocsRoot),

    command("claimClientFolder", DocumentCommands::claimClientFolder),
    command("clientFolder", DocumentCommands::clientFolder),
    command("openFolder", DocumentCommands::openFolder),
    command("saveDocument", DocumentCommands::saveDocument),
    command("listDocuments", DocumentCommands::listDocuments),
    command("openDocument", DocumentCommands::openDocument),
    command("revealDocument", DocumentCommands::revealDocument),
    command("readDocument", DocumentCommands::readDocument),
    command("deleteDocument", DocumentCommands::deleteDocument),
    command("composeEmail", DocumentCommands::composeEmail),

    command("printPdf", PrintCommands::printPdf),
    command("printPage", PrintCommands::printPage),
    command("protectPdf", PrintCommands::protectPdf),
    command("flattenPdf", PrintCommands::flattenPdf),
    command("setBadge", PrintCommands::setBadge),

    command("touchIdAvailable", TouchCommands::touchIdAvailable),
    command("vaultTouchAvailable", TouchCommands::touchIdAvailable),
    command("touchIdStatus", TouchCommands::touchIdStatus),
    command("touchIdEnabled", TouchCommands::touchIdEnabled),
    command("vaultTouchEnabled", TouchCommands::vaultTouchEnabled),
    command("touchIdSave", TouchCommands::touchIdSave),
    command("vaultTouchSave", TouchCommands::vaultTouchSave),
    command("touchIdClear", TouchCommands::touchIdClear),
    command("vaultTouchClear", TouchCommands::vaultTouchClear),
    command("touchIdUnlock", TouchCommands::touchIdUnlock),
    command("vaultTouchUnlock", TouchCommands::vaultTouchUnlock),
    command("touchIdInline", TouchCommands::touchIdInline),
    command("touchIdInlineMove", TouchCommands::touchIdInlineMove),
    command("touchIdInlineCancel", TouchCommands::touchIdInlineCancel),
    command("copySecret", SecretCommands::copySecret),
    testOnly("clipText", SecretCommands::clipText),
    testOnly("clipSet", SecretCommands::clipSet),
    testOnly("clipConcealed", SecretCommands::clipConcealed),
    testOnly("seSelfTest", SecretCommands::seSelfTest),
    testOnly("pdfcraftProbe", PdfCraftCommands::pdfcraftProbe),
    testOnly("pdfcraftSnapshot", PdfCraftCommands::pdfcraftSnapshot),

    command("openPdfCraft", PdfCraftCommands::openPdfCraft),
    command("hasPdfCraft", PdfCraftCommands::hasPdfCraft),
    command("pdfcraftInfo", PdfCraftCommands::pdfcraftInfo),
    command("pdfcraftCheck", PdfCraftCommands::pdfcraftCheck),
    command("pdfcraftUpdate", PdfCraftCommands::pdfcraftUpdate),
    command("pdfcraftRollback", PdfCraftCommands::pdfcraftRollback),
    command("pdfcraftCloseAll", PdfCraftCommands::pdfcraftCloseAll),

    command("printerStatus", PrinterCommands::printerStatus),
    command("printerSetup", PrinterCommands::printerSetup),
    command("printerOff", PrinterCommands::printerOff),
    command("listPrinted", PrinterCommands::listPrinted),
    command("readPrinted", PrinterCommands::readPrinted),
    command("openPrinted", PrinterCommands::openPrinted),
    command("deletePrinted", PrinterCommands::deletePrinted),

    command("irccFeed", NetCommands::irccFeed),
    command("relay", NetCommands::relay),
    command("updateInfo", UpdateCommands::updateInfo),
    command("checkForUpdates", UpdateCommands::checkForUpdates),
    command("setAutoUpdate", UpdateCommands::setAutoUpdate),
    command("setAutoDownload", UpdateCommands::setAutoDownload),
    command("notify", ShellCommands::notify),
    testOnly("simulateOpenURL", ShellCommands::simulateOpenURL),
    testOnly("simulateScreenSleep", ShellCommands::simulateScreenSleep),
    testOnly("answerSaveDialogs", ShellCommands::answerSaveDialogs),
    testOnly("simulateDrop", ShellCommands::simulateDrop),
});

}

std::span<const Command> commandTable()
{
    return commands;
}

void Bridge::handle(const std::string& cmd, const Json& args, CommandReply reply)
{
    for (auto& entry : commands) {
        if (entry.name != cmd)
            continue;
        if (entry.availability == SelfTestOnly && !m_selfTest)
            continue;
        try {
            entry.run(*this, args, reply);
        } catch (const std::exception& error) {
            reply.fail(error.what());
        }
        return;
    }
    reply.fail("Unknown command " + cmd);
}

}
