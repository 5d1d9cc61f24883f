#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace quillpost {

// Password-locks handover PDFs: AES-256 with the client's password to open it and a random owner
// password that is thrown away, then reopens the result to prove it is locked.
namespace PdfLock {

enum class Refusal {
    Unusable,  // the input: no PDF, damaged, already encrypted, or a password too short
    NotLocked, // the written copy didn't prove locked
};

constexpr std::size_t minimumPasswordLength = 8;

// The locked PDF's bytes, or why there is none.
std::variant<std::string, Refusal> protect(std::string_view pdf, std::string_view password);

// Whether the bytes open as a PDF document (with the password when one is given).
bool opens(std::string_view pdf, const std::string& password = {});

// Characters, not bytes: "passwörd" has eight.
std::size_t characterCount(std::string_view);

}

}
