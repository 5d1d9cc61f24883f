#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillpost {

// The bytes in the zlib format, as a page's DecompressionStream("deflate") inflates them. Text
// such as the practice's JSON shrinks to a small fraction, which is what crosses to the page.
// Large text is compressed in pieces on several threads at once.
std::string deflated(std::string_view bytes);

// The same format, made of the given number of pieces, each compressed on its own thread.
std::string deflatedInPieces(std::string_view bytes, std::size_t pieces);

}
