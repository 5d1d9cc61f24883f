// The sealed-record reader (what seOpen reads from the password store), the inline prompt's
// rectangle reader (what touchIdInline reads from the page) and the test that tells an encrypted
// copy of the practice from a readable one, on arbitrary bytes.
//
// The input's first byte chooses the target; the rest is the record, the rectangle's JSON text or
// the copy.

#include "common/Json.h"
#include "secrets/InlineFrame.h"
#include "secrets/SealedRecord.h"
#include "store/SealedForm.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace quillpost;

namespace {

// A fixed device key, as a machine's would be.
const SecretBytes& testDeviceKey()
{
    static const SecretBytes key(std::string(32, '\x5a'));
    return key;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void sealedRecord(std::string_view input)
{
    auto parts = SealedRecord::parse(input);
    if (!parts)
        return;
    // What parses has the sizes the form fixes, and reads back the same after encoding.
    check(parts->key.size() == SealedRecord::wrappedKeySize);
    check(parts->eph.size() == SealedRecord::publicKeySize);
    check(parts->box.size() >= SealedRecord::boxOverhead);
    auto again = SealedRecord::parse(SealedRecord::encode(*parts));
    check(again && again->key == parts->key && again->eph == parts->eph && again->box == parts->box);

    for (const std::optional<std::string>& fingers : { std::optional<std::string>(), std::optional<std::string>("fingers") }) {
        try {
            auto text = SealedRecord::open(*parts, testDeviceKey(), fingers);
            // Opening means authenticating: the text is exactly what the box holds.
            check(text.size() == parts->box.size() - SealedRecord::boxOverhead);
        } catch (const SealError&) {
        }
    }
}

void rectangle(std::string_view input)
{
    Json rect = Json::parse(input, nullptr, false);
    if (rect.is_discarded())
        return;
    for (bool flipped : { true, false }) {
        for (double zoom : { 1.0, 2.5, 0.0, -1.0 }) {
            auto frame = inlineFrame(rect, zoom, flipped, 900);
            if (!frame)
                continue;
            check(rect.is_object());
            check(std::isfinite(frame->x) && std::isfinite(frame->y));
            check(frame->width > 0 && frame->height > 0 && std::isfinite(frame->width) && std::isfinite(frame->height));
            auto size = controlSizeFor(*frame);
            double side = std::min(frame->width, frame->height);
            check((size == InlinePromptView::ControlSize::Large) == (side >= 88));
        }
    }
}

// A copy taken for encrypted is a JSON object of the encrypted form's members and nothing else, so
// that no readable copy is ever removed as redundant, nor kept as safe.
void sealedDocument(std::string_view input)
{
    if (!isSealedDocument(input))
        return;
    Json document = Json::parse(input, nullptr, false);
    check(document.is_object());
    check(document.value("enc", Json()) == true && document.value("v", Json()) == 2);
    for (auto& [key, value] : document.items())
        check(key == "enc" || key == "v" || key == "people" || key == "iv" || key == "ct");
    check(document["iv"].is_string() && document["ct"].is_string() && document["people"].is_array());
    for (auto& person : document["people"])
        check(person.is_object() && !person.contains("clients") && !person.contains("files"));
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1)
        rectangle(input);
    else if (data[0] & 2)
        sealedDocument(input);
    else
        sealedRecord(input);
    return 0;
}
