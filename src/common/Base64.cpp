#include "common/Base64.h"

#include <array>
#include <cstdint>

namespace quillpost {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> decodingTable()
{
    std::array<std::int8_t, 256> table {};
    table.fill(-1);
    for (int index = 0; index < 64; ++index)
        table[static_cast<unsigned char>(alphabet[index])] = static_cast<std::int8_t>(index);
    return table;
}

constexpr auto sextets = decodingTable();

}

std::string encodeBase64(std::string_view bytes)
{
    std::string text;
    text.resize((bytes.size() + 2) / 3 * 4);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    char* out = text.data();
    size_t index = 0;
    for (; index + 3 <= bytes.size(); index += 3) {
        const std::uint32_t group = (in[index] << 16) | (in[index + 1] << 8) | in[index + 2];
        *out++ = alphabet[(group >> 18) & 63];
        *out++ = alphabet[(group >> 12) & 63];
        *out++ = alphabet[(group >> 6) & 63];
        *out++ = alphabet[group & 63];
    }
    const size_t rest = bytes.size() - index;
    if (rest) {
        const std::uint32_t group = (in[index] << 16) | (rest == 2 ? in[index + 1] << 8 : 0);
        *out++ = alphabet[(group >> 18) & 63];
        *out++ = alphabet[(group >> 12) & 63];
        *out++ = rest == 2 ? alphabet[(group >> 6) & 63] : '=';
        *out++ = '=';
    }
    return text;
}

std::optional<std::string> decodeBase64(std::string_view text)
{
    if (text.size() % 4)
        return std::nullopt;
    size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;

    std::string bytes;
    bytes.resize(text.size() / 4 * 3 - padding);
    char* out = bytes.data();
    const size_t fullGroups = padding ? text.size() / 4 - 1 : text.size() / 4;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t group = 0; group < fullGroups; ++group) {
        const auto* quad = in + group * 4;
        const int a = sextets[quad[0]], b = sextets[quad[1]], c = sextets[quad[2]], d = sextets[quad[3]];
        if ((a | b | c | d) < 0)
            return std::nullopt;
        const std::uint32_t value = (a << 18) | (b << 12) | (c << 6) | d;
        *out++ = static_cast<char>(value >> 16);
        *out++ = static_cast<char>(value >> 8);
        *out++ = static_cast<char>(value);
    }
    if (!padding)
        return bytes;

    const auto* quad = in + fullGroups * 4;
    const int a = sextets[quad[0]], b = sextets[quad[1]];
    const int c = padding == 1 ? sextets[quad[2]] : 0;
    if ((a | b | c) < 0)
        return std::nullopt;
    // The bits below the last byte must be zero, so that every byte string has one spelling.
    if (padding == 2 ? (b & 15) : (c & 3))
        return std::nullopt;
    *out++ = static_cast<char>((a << 2) | (b >> 4));
    if (padding == 1)
        *out++ = static_cast<char>(((b & 15) << 4) | (c >> 2));
    return bytes;
}

}
