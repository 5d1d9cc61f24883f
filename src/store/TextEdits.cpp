#include "store/TextEdits.h"

namespace quillpost {

namespace {

// How many bytes the UTF-8 character led by this byte takes, and how many UTF-16 units it is.
struct Character {
    std::size_t bytes;
    std::size_t units;
};

Character characterAt(unsigned char lead)
{
    if (lead < 0x80)
        return { 1, 1 };
    if (lead >= 0xF0)
        return { 4, 2 };
    if (lead >= 0xE0)
        return { 3, 1 };
    return { 2, 1 };
}

std::size_t unitsIn(std::string_view text)
{
    std::size_t units = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto character = characterAt(static_cast<unsigned char>(text[at]));
        at += character.bytes;
        units += character.units;
    }
    return units;
}

}

std::optional<std::string> applyTextEdits(std::string_view text, const std::vector<TextEdit>& edits)
{
    std::string result;
    result.reserve(text.size());
    std::size_t byte = 0;
    std::size_t unit = 0;
    for (const auto& edit : edits) {
        if (edit.at < unit)
            return std::nullopt;
        const std::size_t copyFrom = byte;
        while (unit < edit.at && byte < text.size()) {
            const auto character = characterAt(static_cast<unsigned char>(text[byte]));
            byte += character.bytes;
            unit += character.units;
        }
        // Past the end, or between the two halves of a character outside the basic plane.
        if (unit != edit.at || byte > text.size())
            return std::nullopt;
        if (text.substr(byte, edit.before.size()) != edit.before)
            return std::nullopt;
        result.append(text, copyFrom, byte - copyFrom);
        result += edit.after;
        byte += edit.before.size();
        unit += unitsIn(edit.before);
    }
    result.append(text, byte);
    return result;
}

std::optional<std::vector<TextEdit>> textEditsFrom(const Json& list)
{
    if (!list.is_array())
        return std::nullopt;
    std::vector<TextEdit> edits;
    for (const auto& entry : list) {
        if (!entry.is_array() || entry.size() != 3 || !entry[0].is_number_unsigned() || !entry[1].is_string() || !entry[2].is_string())
            return std::nullopt;
        edits.push_back({ entry[0].get<std::size_t>(), entry[1].get<std::string>(), entry[2].get<std::string>() });
    }
    return edits;
}

}
