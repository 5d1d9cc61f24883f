#pragma once

#include <string>
#include <string_view>

namespace quillpost {

// The bytes as well-formed UTF-8: each maximal ill-formed subpart becomes U+FFFD, the way
// the Unicode standard recommends and browsers decode, so the page sees the same text
// whichever side decoded it.
std::string validUtf8(std::string_view bytes);
// The same, giving back the bytes themselves when they are well-formed already.
std::string validUtf8(std::string&& bytes);
// Whether the bytes are well-formed UTF-8 as they stand.
bool isValidUtf8(std::string_view bytes);

}
