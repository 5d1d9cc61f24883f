#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// Standard Base64 (RFC 4648, with padding), the form the page's btoa writes.
std::string base64Encode(std::string_view bytes);

// Strict: any character outside the alphabet, white space included, or wrong padding gives nothing.
std::optional<std::string> base64Decode(std::string_view text);

}
