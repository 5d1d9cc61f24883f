// The edits a page sends to the text of the last save: [text, [[place, before, after], ...]].
// Whatever they hold, making them never reads or writes outside the text, and the store refuses
// or makes exactly the edits that a second, plainer way of making them refuses or makes.
#include "FuzzCheck.h"

#include "common/JsonText.h"
#include "store/TextEdits.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace quillpost;

namespace {

// The same edits made another way: each UTF-16 place mapped to its byte up front, with every
// place inside a surrogate pair left without one.
std::optional<std::string> madeAnotherWay(std::string_view text, const std::vector<TextEdit>& edits)
{
    constexpr auto none = std::string_view::npos;
    std::vector<std::size_t> byteOf;
    std::size_t units = 0;
    for (std::size_t byte = 0; byte <= text.size(); ++byte) {
        if (byte < text.size() && (static_cast<unsigned char>(text[byte]) & 0xC0) == 0x80)
            continue;
        byteOf.resize(units + 1, none);
        byteOf[units] = byte;
        if (byte < text.size())
            units += static_cast<unsigned char>(text[byte]) >= 0xF0 ? 2 : 1;
    }
    std::string result;
    std::size_t copied = 0;
    for (const auto& edit : edits) {
        if (edit.at >= byteOf.size() || byteOf[edit.at] == none || byteOf[edit.at] < copied)
            return std::nullopt;
        const std::size_t at = byteOf[edit.at];
        if (text.substr(at, edit.before.size()) != edit.before)
            return std::nullopt;
        result.append(text, copied, at - copied);
        result += edit.after;
        copied = at + edit.before.size();
    }
    result.append(text, copied);
    return result;
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Json input = parseJsonText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!input.is_array() || input.size() != 2 || !input[0].is_string())
        return 0;
    const auto text = input[0].get<std::string>();
    const auto edits = textEditsFrom(input[1]);
    if (!edits)
        return 0;
    FUZZ_CHECK(applyTextEdits(text, *edits) == madeAnotherWay(text, *edits));
    return 0;
}
