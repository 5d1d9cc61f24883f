#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks): how bytes cross the bridge.
std::string encodeBase64(std::string_view bytes);

// Strict: any character outside the alphabet, a line break, missing or misplaced padding, or
// stray bits in the last group give nothing. The empty text is the empty byte string.
std::optional<std::string> decodeBase64(std::string_view text);

}
