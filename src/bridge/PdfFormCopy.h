#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillpost {

// Shareable copies of filled PDF forms: the fields' appearances baked into the pages' content and
// the form itself removed, so nothing in the copy can be changed by accident.
namespace PdfFormCopy {

enum class Refusal {
    TooLarge,
    NotPdf,
    Damaged,
    PasswordProtected,
    NoFields,
    NotFlattened, // the written copy still had a form, or didn't open again
};

// A filled form is a few megabytes; this leaves room for scanned attachments.
constexpr std::size_t maximumInputBytes = 256u * 1024 * 1024;

struct Copy {
    std::string bytes;
    int pages { 0 };
    int fields { 0 };
    // The strings the copy's pages draw, in order (see drawnText).
    std::vector<std::string> text;
};

// The copy, or why there is none. The input is only read.
std::variant<Copy, Refusal> flatten(std::string_view pdf);

// The strings shown by the text operators (Tj, TJ, ' and ") of every page and of the form
// XObjects they draw, as UTF-8; a TJ's pieces are joined. Each form XObject is read once, however
// often it is drawn. Nothing when the bytes don't open as an unencrypted PDF.
std::optional<std::vector<std::string>> drawnText(std::string_view pdf);

}

}
