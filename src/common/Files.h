#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quillpost {

// The whole content of a regular file, or nothing when it cannot be read.
std::optional<std::string> readFile(const std::filesystem::path&);

}
