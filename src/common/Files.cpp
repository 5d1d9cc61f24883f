#include "common/Files.h"

#include <fstream>
#include <iterator>

namespace quillpost {

std::optional<std::string> readFile(const std::filesystem::path& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::string content;
    auto size = std::filesystem::file_size(path, error);
    if (!error)
        content.reserve(size);
    content.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    if (stream.bad())
        return std::nullopt;
    return content;
}

}
