#pragma once

#include "common/Json.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

// One change to a text: what stood at a place and what stands there now. The place counts
// UTF-16 code units, as the page's strings do, so the page never has to encode what it kept.
struct TextEdit {
    std::size_t at { 0 };
    std::string before;
    std::string after;
};

// The UTF-8 text with the edits made, or nothing when they don't fit it: out of order or
// overlapping, a place past the end or inside a character, or text that isn't what stood there.
std::optional<std::string> applyTextEdits(std::string_view text, const std::vector<TextEdit>& edits);

// The edits as the page sends them, a list of [place, text that stood there, text that stands
// there now]; nothing when the list is anything else.
std::optional<std::vector<TextEdit>> textEditsFrom(const Json& list);

}
