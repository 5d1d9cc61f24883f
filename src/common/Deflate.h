#pragma once

#include <string>
#include <string_view>

namespace quillpost {

// The bytes in the zlib format, as a page's DecompressionStream("deflate") inflates them. Text
// such as the practice's JSON shrinks to a small fraction, which is what crosses to the page.
std::string deflated(std::string_view bytes);

}
