#include "bridge/FolderChoice.h"

#include "bridge/Bridge.h"
#include "common/Utf8.h"
#include "store/Store.h"

namespace quillpost {

std::optional<std::string> unstorableFolder(const std::string& path)
{
    if (validUtf8(path) == path)
        return std::nullopt;
    return "Quillpost can't use that folder, because its name has characters it can't store. Please choose another folder.";
}

void chooseFolderSetting(Bridge& bridge, const CommandReply& reply, const std::string& title, const char* key, std::function<void(Store&)> afterStoring)
{
    bridge.chooseFolder(title, [&bridge, reply, key, afterStoring = std::move(afterStoring)](std::optional<std::string> path) {
        if (!path) {
            reply.replyNull();
            return;
        }
        if (auto problem = unstorableFolder(*path)) {
            reply.fail(*problem);
            return;
        }
        auto& store = bridge.store();
        store.config()[key] = *path;
        store.saveConfig();
        if (afterStoring)
            afterStoring(store);
        reply.reply(*path);
    });
}

}
