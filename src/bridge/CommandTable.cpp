#include "bridge/CommandTable.h"

#include "bridge/Bridge.h"
#include "bridge/DataCommands.h"
#include "bridge/NetCommands.h"
#include "bridge/PrintCommands.h"

#include <array>
#include <exception>

namespace quillpost {

namespace {

using enum Command::Availability;

constexpr Command command(std::string_view name, CommandFunction run) { return { name, Always, run }; }
constexpr Command testOnly(std::string_view name, CommandFunction run) { return { name, SelfTestOnly, run }; }
constexpr Command pending(std::string_view name, std::string_view feature) { return { name, Always, nullptr, feature }; }
constexpr Command pendingTestOnly(std::string_view name, std::string_view feature) { return { name, SelfTestOnly, nullptr, feature }; }

constexpr std::string_view drive = "Google Drive folders";
constexpr std::string_view documents = "Client document folders";
constexpr std::string_view email = "E-mail with attachments";
constexpr std::string_view fingerprint = "Fingerprint unlock";
constexpr std::string_view secrets = "Sealed secrets";
constexpr std::string_view editor = "The PDF editor";
constexpr std::string_view updates = "Application updates";
constexpr std::string_view notifications = "Notifications";
constexpr std::string_view links = "Quillpost links";
constexpr std::string_view lockWatch = "The screen-lock watch";

constexpr auto commands = std::to_array<Command>({
    command("load", DataCommands::load),
    command("save", DataCommands::save),
    command("info", DataCommands::info),
    command("dataStatus", DataCommands::dataStatus),
    command("openDataFolder", DataCommands::openDataFolder),
    command("chooseBackupFolder", DataCommands::chooseBackupFolder),
    command("clearBackupFolder", DataCommands::clearBackupFolder),
    command("listSnapshots", DataCommands::listSnapshots),
    command("recoveryCopy", DataCommands::recoveryCopy),
    command("restoreSnapshot", DataCommands::restoreSnapshot),
    command("backupCandidates", DataCommands::backupCandidates),

    pending("driveDetect", drive),
    pending("driveConnect", drive),
    pending("driveConnectPath", drive),
    pending("driveDisconnect", drive),
    pending("chooseDocsRoot", documents),

    pending("clientFolder", documents),
    pending("openFolder", documents),
    pending("saveDocument", documents),
    pending("listDocuments", documents),
    pending("openDocument", documents),
    pending("revealDocument", documents),
    pending("readDocument", documents),
    pending("deleteDocument", documents),
    pending("composeEmail", email),

    command("printPdf", PrintCommands::printPdf),
    command("printPage", PrintCommands::printPage),
    command("protectPdf", PrintCommands::protectPdf),
    command("setBadge", PrintCommands::setBadge),

    pending("touchIdAvailable", fingerprint),
    pending("vaultTouchAvailable", fingerprint),
    pending("touchIdEnabled", fingerprint),
    pending("vaultTouchEnabled", fingerprint),
    pending("touchIdSave", fingerprint),
    pending("vaultTouchSave", fingerprint),
    pending("touchIdClear", fingerprint),
    pending("vaultTouchClear", fingerprint),
    pending("touchIdUnlock", fingerprint),
    pending("vaultTouchUnlock", fingerprint),
    pending("touchIdInline", fingerprint),
    pending("touchIdInlineMove", fingerprint),
    pending("touchIdInlineCancel", fingerprint),
    pending("copySecret", secrets),
    pendingTestOnly("clipText", secrets),
    pendingTestOnly("clipSet", secrets),
    pendingTestOnly("clipConcealed", secrets),
    pendingTestOnly("seSelfTest", secrets),

    pending("openPdfCraft", editor),
    pending("hasPdfCraft", editor),
    pending("pdfcraftInfo", editor),
    pending("pdfcraftCheck", editor),
    pending("pdfcraftUpdate", editor),
    pending("pdfcraftRollback", editor),
    pending("pdfcraftCloseAll", editor),

    command("printerStatus", PrinterCommands::printerStatus),
    command("printerSetup", PrinterCommands::printerSetup),
    command("printerOff", PrinterCommands::printerOff),
    command("listPrinted", PrinterCommands::listPrinted),
    command("readPrinted", PrinterCommands::readPrinted),
    command("openPrinted", PrinterCommands::openPrinted),
    command("deletePrinted", PrinterCommands::deletePrinted),

    command("irccFeed", NetCommands::irccFeed),
    command("relay", NetCommands::relay),
    pending("updateInfo", updates),
    pending("checkForUpdates", updates),
    pending("setAutoUpdate", updates),
    pending("notify", notifications),
    pendingTestOnly("simulateOpenURL", links),
    pendingTestOnly("simulateScreenSleep", lockWatch),
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
        if (!entry.run) {
            reply.fail(std::string(entry.feature) + " isn't available in this version of Quillpost yet.");
            return;
        }
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
