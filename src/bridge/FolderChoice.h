#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quillpost {

class Bridge;
class CommandReply;
class Store;

// Why a folder the user chose can't be kept in the settings, or nothing when it can: the
// settings file is JSON text, which cannot hold a name that is not UTF-8.
std::optional<std::string> unstorableFolder(const std::string& path);

// Asks for a folder with the chooser and keeps it in the settings under key; answers its path, or
// null when the user cancelled. afterStoring runs once the settings are written.
void chooseFolderSetting(Bridge&, const CommandReply&, const std::string& title, const char* key, std::function<void(Store&)> afterStoring = nullptr);

}
