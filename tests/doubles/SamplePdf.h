#pragma once

#include <string>

namespace quillpost {

// A small, whole PDF with the given number of US Letter pages, made by qpdf.
std::string samplePdf(int pages = 1, const std::string& userPassword = {});

}
