#pragma once

#include <string_view>

namespace quillpost {

// Whether the bytes are the practice document in the page's encrypted form and nothing else:
// { "enc": true, "v": 2, "people": [...], "iv": "...", "ct": "..." }, each person holding only a
// name, a salt, the key derivation's parameters and the wrapped document key. A copy with any other
// member (a client list beside the encrypted text, say) is not taken for encrypted: what it adds can
// be read by anyone.
bool isSealedDocument(std::string_view bytes);

}
