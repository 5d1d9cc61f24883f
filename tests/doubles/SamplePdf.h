#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace quillpost {

// A small, whole PDF with the given number of US Letter pages, made by qpdf.
std::string samplePdf(int pages = 1, const std::string& userPassword = {});

// A filled AcroForm on the first page: the text field "applicant" (printed) holds
// sampleFormValue, and the hidden field "internal" holds sampleFormHiddenValue.
inline constexpr const char* sampleFormValue = "Maria Zoë Alvarez";
inline constexpr const char* sampleFormHiddenValue = "Internal note: fee waived";

struct SampleForm {
    int pages { 2 };
    // Every widget with its appearance stream, rather than NeedAppearances for readers to draw them.
    bool drawn { false };
    // Encrypted when set, even with an empty password (an owner password only).
    std::optional<std::string> userPassword {};
    // Bytes of an image that no page draws but the first page's resources name, for a large file.
    std::size_t filler { 0 };
};
std::string filledFormPdf(const SampleForm& = {});

// A page whose text is partly drawn by form XObjects that draw each other, round in a loop.
std::string nestedFormXObjectsPdf();

// What qpdf itself finds in a PDF.
struct PdfFacts {
    int pages { 0 };
    bool acroForm { false };
    int widgets { 0 };
};
std::optional<PdfFacts> pdfFacts(const std::string& pdf);

}
