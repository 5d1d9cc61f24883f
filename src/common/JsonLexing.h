#pragma once

#include <string>
#include <string_view>

namespace quillpost::jsonLexing {

// Readers of single JSON tokens that accept exactly what parseJsonText accepts: strict JSON as the
// JSON library reads it, except that a lone surrogate escape stands for U+FFFD. Each takes the
// position of the token's first character and answers the position just past it, or nullptr when
// the token is not valid JSON.

// p points just past the opening quote.
const char* skipString(const char* p, const char* end);
// As skipString, appending the string's text (UTF-8) to out.
const char* readString(const char* p, const char* end, std::string& out);

struct Number {
    const char* end { nullptr };
    bool integer { false }; // no fraction and no exponent
};
// p points at '-' or a digit. A number whose value overflows a double is refused, as the JSON
// library refuses it.
Number scanNumber(const char* p, const char* end);

// The value of a number token, read in the C locale whatever the program's locale.
double numberValue(std::string_view token);

inline bool isJsonSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline const char* skipSpace(const char* p, const char* end)
{
    while (p < end && isJsonSpace(*p))
        ++p;
    return p;
}

}
