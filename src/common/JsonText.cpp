#include "common/JsonText.h"

#include <charconv>

namespace quillpost {

namespace {

std::optional<unsigned> surrogateAt(std::string_view text, size_t index)
{
    // index points at the backslash of a "\uXXXX" escape.
    if (index + 6 > text.size() || text[index + 1] != 'u')
        return std::nullopt;
    unsigned value = 0;
    const char* digits = text.data() + index + 2;
    const auto [end, error] = std::from_chars(digits, digits + 4, value, 16);
    if (error != std::errc() || end != digits + 4)
        return std::nullopt;
    if (value < 0xD800 || value > 0xDFFF)
        return std::nullopt;
    return value;
}

}

std::optional<std::string> withLoneSurrogatesReplaced(std::string_view text)
{
    std::optional<std::string> repaired;
    size_t copiedUpTo = 0;
    for (size_t index = text.find('\\'); index != std::string_view::npos; index = text.find('\\', index)) {
        const auto unit = surrogateAt(text, index);
        if (!unit) {
            index += 2; // any other escape, including an escaped backslash
            continue;
        }
        if (*unit < 0xDC00) {
            const auto low = surrogateAt(text, index + 6);
            if (low && *low >= 0xDC00) {
                index += 12;
                continue;
            }
        }
        if (!repaired)
            repaired.emplace();
        repaired->append(text.substr(copiedUpTo, index - copiedUpTo)).append("\\ufffd");
        index += 6;
        copiedUpTo = index;
    }
    if (repaired)
        repaired->append(text.substr(copiedUpTo));
    return repaired;
}

Json parseJsonText(std::string_view text)
{
    const auto repaired = withLoneSurrogatesReplaced(text);
    bool tooDeep = false;
    // Values below the limit are dropped as they are read, so a hostile text never builds a deep tree.
    auto limit = [&tooDeep](int depth, Json::parse_event_t, Json&) {
        if (depth <= maximumJsonDepth)
            return true;
        tooDeep = true;
        return false;
    };
    Json value = Json::parse(repaired ? std::string_view(*repaired) : text, limit, false);
    return tooDeep ? Json(Json::value_t::discarded) : value;
}

}
