#pragma once

#include <optional>
#include <string>

namespace quillpost {

// Why a folder the user chose can't be kept in the settings, or nothing when it can: the
// settings file is JSON text, which cannot hold a name that is not UTF-8.
std::optional<std::string> unstorableFolder(const std::string& path);

}
