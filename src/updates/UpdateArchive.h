#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// A release archive (a .tar.gz of the installed tree). Only plain folders and regular files whose
// names stay inside the folder they unpack to are accepted: no links of either kind, no devices,
// no absolute names, no "..".
namespace UpdateArchive {

// Why the archive is refused, or nothing when every entry is acceptable.
std::optional<std::string> problem(std::string_view bytes);

// Unpacks into folder (which must not exist yet), after the same checks; throws FileError.
void unpack(std::string_view bytes, const std::filesystem::path& folder);

// The installed tree inside an unpacked archive: the folder itself or a folder one level down
// that holds bin/quillpost and share/quillpost/app/index.html.
std::optional<std::filesystem::path> findTree(const std::filesystem::path& folder);

}

}
