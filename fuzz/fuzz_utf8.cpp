// Repairing text to UTF-8 and encoding replies: whatever the bytes, the page gets valid text.
#include "FuzzCheck.h"

#include "bridge/CommandReply.h"
#include "common/Utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace quillpost;

namespace {

// Well-formed UTF-8 by its definition (Unicode 15, table 3-7), decoded to code points rather
// than checked by byte ranges, so that it shares nothing with the repair it checks.
bool wellFormed(std::string_view text)
{
    std::size_t index = 0;
    while (index < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[index]);
        if (lead < 0x80) {
            ++index;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        std::uint32_t smallest = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1F;
            smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0F;
            smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07;
            smallest = 0x10000;
        } else {
            return false;
        }
        if (index + length > text.size())
            return false;
        for (std::size_t offset = 1; offset < length; ++offset) {
            const auto byte = static_cast<std::uint8_t>(text[index + offset]);
            if ((byte & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (byte & 0x3F);
        }
        if (codePoint < smallest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        index += length;
    }
    return true;
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string repaired = validUtf8(bytes);
    FUZZ_CHECK(wellFormed(repaired));
    FUZZ_CHECK(validUtf8(repaired) == repaired);
    FUZZ_CHECK(validUtf8(std::string(bytes)) == repaired);
    if (wellFormed(bytes))
        FUZZ_CHECK(repaired == bytes);

    // A reply holding the bytes, as a value and as a key, reaches the page as JSON it can parse,
    // with the same repair the page's own decoder would make.
    const std::string text(bytes);
    for (const Json& value : { Json(text), Json { { text, text } } }) {
        const std::string encoded = CommandReply::encode(value);
        FUZZ_CHECK(wellFormed(encoded));
        const Json parsed = Json::parse(encoded, nullptr, false);
        FUZZ_CHECK(!parsed.is_discarded());
        if (parsed.is_string())
            FUZZ_CHECK(parsed.get_ref<const std::string&>() == repaired);
        else
            FUZZ_CHECK(parsed.size() == 1 && parsed.begin().key() == repaired && parsed.begin().value() == repaired);
    }
    return 0;
}
