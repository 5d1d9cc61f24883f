#pragma once

#include <string_view>

namespace quillpost {

// Whether signature (64 raw bytes) is a valid Ed25519 signature of message under publicKey
// (32 raw bytes). Anything malformed is simply not valid.
bool ed25519Verify(std::string_view publicKey, std::string_view message, std::string_view signature);

}
