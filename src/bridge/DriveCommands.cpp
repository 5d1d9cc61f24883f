#include "bridge/DriveCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "bridge/FolderChoice.h"
#include "store/Store.h"

namespace quillpost::DriveCommands {

namespace {

void connect(Bridge& bridge, const std::string& path, const CommandReply& reply)
{
    if (auto problem = unstorableFolder(path)) {
        reply.fail(*problem);
        return;
    }
    // A drive that is gone (unmounted, signed out) would otherwise be made again as a plain local
    // folder, and documents filed there would never reach the drive.
    std::error_code error;
    if (!std::filesystem::path(path).is_absolute() || !std::filesystem::is_directory(path, error)) {
        reply.fail("Quillpost can't find that folder, so nothing was changed. If it is on a drive that syncs, check that the drive is connected.");
        return;
    }
    reply.reply(bridge.store().connectDrive(path));
}

}

void driveDetect(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto detected = bridge.store().detectDrive();
    if (!detected) {
        reply.replyNull();
        return;
    }
    reply.reply(detected->string());
}

void driveConnect(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    if (!booleanArgument(args, 0, false)) {
        if (auto detected = bridge.store().detectDrive()) {
            connect(bridge, detected->string(), reply);
            return;
        }
    }
    bridge.chooseFolder("Choose your Google Drive folder (\"My Drive\")", [&bridge, reply](std::optional<std::string> path) {
        if (!path) {
            reply.replyNull();
            return;
        }
        connect(bridge, *path, reply);
    });
}

void driveConnectPath(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    connect(bridge, str(args, 0), reply);
}

void driveDisconnect(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto& store = bridge.store();
    for (const char* key : { "drive", "docsRoot", "backupFolder" })
        store.config().erase(key);
    store.saveConfig();
    reply.reply(true);
}

void chooseDocsRoot(Bridge& bridge, const Json&, const CommandReply& reply)
{
    chooseFolderSetting(bridge, reply, "Choose where client document folders go", "docsRoot");
}

}
