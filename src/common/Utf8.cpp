#include "common/Utf8.h"

#include <cstdint>
#include <cstring>

namespace quillpost {

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

struct SequenceShape {
    int length; // 0 when the byte cannot start a sequence
    std::uint8_t secondLow;
    std::uint8_t secondHigh;
};

// The second byte's range is what excludes overlong forms, surrogates and values past U+10FFFF.
SequenceShape shapeOf(std::uint8_t lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return { 2, 0x80, 0xBF };
    if (lead == 0xE0)
        return { 3, 0xA0, 0xBF };
    if (lead == 0xED)
        return { 3, 0x80, 0x9F };
    if (lead >= 0xE1 && lead <= 0xEF)
        return { 3, 0x80, 0xBF };
    if (lead == 0xF0)
        return { 4, 0x90, 0xBF };
    if (lead >= 0xF1 && lead <= 0xF3)
        return { 4, 0x80, 0xBF };
    if (lead == 0xF4)
        return { 4, 0x80, 0x8F };
    return { 0, 0, 0 };
}

bool isContinuation(std::uint8_t byte)
{
    return byte >= 0x80 && byte <= 0xBF;
}

}

bool isValidUtf8(std::string_view bytes)
{
    size_t index = 0;
    while (index < bytes.size()) {
        // Eight ASCII bytes at a time.
        if (index + 8 <= bytes.size()) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + index, 8);
            if (!(word & 0x8080808080808080ull)) {
                index += 8;
                continue;
            }
        }
        const auto lead = static_cast<std::uint8_t>(bytes[index]);
        if (lead < 0x80) {
            ++index;
            continue;
        }
        const SequenceShape shape = shapeOf(lead);
        const auto length = static_cast<size_t>(shape.length);
        if (!length || index + length > bytes.size())
            return false;
        const auto second = static_cast<std::uint8_t>(bytes[index + 1]);
        if (second < shape.secondLow || second > shape.secondHigh)
            return false;
        for (size_t at = 2; at < length; ++at) {
            if (!isContinuation(static_cast<std::uint8_t>(bytes[index + at])))
                return false;
        }
        index += length;
    }
    return true;
}

std::string validUtf8(std::string&& bytes)
{
    if (isValidUtf8(bytes))
        return std::move(bytes);
    return validUtf8(std::string_view(bytes));
}

std::string validUtf8(std::string_view bytes)
{
    std::string result;
    result.reserve(bytes.size());

    size_t index = 0;
    while (index < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[index]);
        if (lead < 0x80) {
            result.push_back(static_cast<char>(lead));
            ++index;
            continue;
        }

        const SequenceShape shape = shapeOf(lead);
        if (!shape.length) {
            result.append(replacementCharacter);
            ++index;
            continue;
        }

        // Take the longest prefix that could still begin a valid sequence; if it falls short,
        // that whole prefix becomes one replacement and decoding resumes at the offending byte.
        size_t consumed = 1;
        while (consumed < static_cast<size_t>(shape.length) && index + consumed < bytes.size()) {
            const auto byte = static_cast<std::uint8_t>(bytes[index + consumed]);
            const bool fits = consumed == 1 ? byte >= shape.secondLow && byte <= shape.secondHigh : isContinuation(byte);
            if (!fits)
                break;
            ++consumed;
        }

        if (consumed == static_cast<size_t>(shape.length))
            result.append(bytes.substr(index, consumed));
        else
            result.append(replacementCharacter);
        index += consumed;
    }
    return result;
}

}
