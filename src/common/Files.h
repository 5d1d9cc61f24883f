#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quillpost {

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::string> readFile(const std::filesystem::path&);
// The same, failing with a FileError that says what went wrong.
std::string readFileOrFail(const std::filesystem::path&);

// A sentence for the user: "Couldn't <action> "<path>": <reason>."
std::string describeFileFailure(std::string_view action, const std::filesystem::path&, const std::error_code&);
std::error_code lastSystemError();

// The names in a folder, in the order the listing gives; nothing when it cannot be listed.
std::vector<std::string> namesInFolder(const std::filesystem::path&);

}
