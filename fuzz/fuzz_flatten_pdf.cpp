// The bytes a shareable copy is made from: any file the user picks or prints. The copy, when there
// is one, has pages and fields, and reports the text that a fresh reading of it finds.
#include "FuzzCheck.h"

#include "bridge/PdfFormCopy.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace quillpost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The text walk reads every page and form XObject, loops and all, of any PDF that opens.
    PdfFormCopy::drawnText(bytes);

    auto result = PdfFormCopy::flatten(bytes);
    if (auto* copy = std::get_if<PdfFormCopy::Copy>(&result)) {
        FUZZ_CHECK(copy->pages > 0);
        FUZZ_CHECK(copy->fields > 0);
        FUZZ_CHECK(std::string_view(copy->bytes).starts_with("%PDF-"));
        FUZZ_CHECK(PdfFormCopy::drawnText(copy->bytes) == copy->text);
        // A copy is itself no form any more.
        auto again = PdfFormCopy::flatten(copy->bytes);
        FUZZ_CHECK(std::holds_alternative<PdfFormCopy::Refusal>(again));
    }
    return 0;
}
