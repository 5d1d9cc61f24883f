#pragma once

#include <string_view>

namespace quillpost {

// What one pass over a data file's bytes finds. Every byte is validated as the JSON library would
// read it (a lone surrogate escape reads as U+FFFD, as the page's JSON.parse reads it), but no
// value is built: only the few members the open check looks at are followed.
struct DocumentCheck {
    bool json { false };    // the bytes are one JSON value
    bool whole { false };   // ... whose top level is an object or an array
    bool opens { false };   // ... and that would open again (Store::openable)
};

DocumentCheck checkDocument(std::string_view bytes);

// An emptied data file: nothing but white space, or the "null" that saving null leaves.
bool holdsNothing(std::string_view bytes);

}
