#include "common/Base64.h"

#include <openssl/evp.h>

namespace quillpost {

namespace {

bool inAlphabet(unsigned char character)
{
    return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') || (character >= '0' && character <= '9')
        || character == '+' || character == '/';
}

}

std::string base64Encode(std::string_view bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    // EVP_EncodeBlock takes an int length, so very large inputs go in slices of whole 3-byte groups.
    constexpr size_t slice = 3 * (1 << 28);
    size_t written = 0;
    for (size_t offset = 0; offset < bytes.size(); offset += slice) {
        const auto part = bytes.substr(offset, slice);
        written += static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data() + written),
            reinterpret_cast<const unsigned char*>(part.data()), static_cast<int>(part.size())));
    }
    text.resize(written);
    return text;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4)
        return std::nullopt;
    size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
    for (size_t index = 0; index < text.size() - padding; ++index) {
        if (!inAlphabet(static_cast<unsigned char>(text[index])))
            return std::nullopt;
    }
    // The bits that padding leaves over must be zero, so that each byte string has one encoding.
    if (padding) {
        static constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const size_t last = alphabet.find(text[text.size() - padding - 1]);
        if (last & (padding == 2 ? 0x0F : 0x03))
            return std::nullopt;
    }

    std::string bytes(3 * (text.size() / 4), '\0');
    constexpr size_t slice = 4 * (1 << 28);
    size_t written = 0;
    for (size_t offset = 0; offset < text.size(); offset += slice) {
        const auto part = text.substr(offset, slice);
        const int count = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data() + written),
            reinterpret_cast<const unsigned char*>(part.data()), static_cast<int>(part.size()));
        if (count < 0)
            return std::nullopt;
        written += static_cast<size_t>(count);
    }
    // EVP_DecodeBlock counts the padding as zero bytes.
    bytes.resize(written - padding);
    return bytes;
}

}
