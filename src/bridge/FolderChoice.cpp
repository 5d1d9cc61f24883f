#include "bridge/FolderChoice.h"

#include "common/Utf8.h"

namespace quillpost {

std::optional<std::string> unstorableFolder(const std::string& path)
{
    if (validUtf8(path) == path)
        return std::nullopt;
    return "Quillpost can't use that folder, because its name has characters it can't store. Please choose another folder.";
}

}
