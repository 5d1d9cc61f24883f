#pragma once

#include "common/Json.h"

#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// JavaScript strings may hold half of a surrogate pair (a cut emoji, say), which JSON.stringify
// writes as a lone "\ud83d" escape and JSON.parse reads back. The JSON library refuses such text,
// so readers of page-made JSON go through a copy in which each lone half is "\ufffd". Nothing when
// the text has no lone half.
std::optional<std::string> withLoneSurrogatesReplaced(std::string_view text);

// Deeper than this, a document is not the program's or the page's: the JSON library copies and
// writes values recursively, so such a document would exhaust the stack.
inline constexpr int maximumJsonDepth = 512;

// JSON text the way the page's JSON.parse reads it: a lone surrogate escape becomes U+FFFD.
// A discarded value when the text is not JSON or nests deeper than maximumJsonDepth.
Json parseJsonText(std::string_view text);

}
