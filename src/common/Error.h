#pragma once

#include <stdexcept>
#include <string>

namespace quillpost {

// An error made by the program itself, in the "Quillpost" domain with a small code
// (store: 1 refused restore, 2 document would not open).
class QuillpostError : public std::runtime_error {
public:
    QuillpostError(int code, const std::string& description)
        : std::runtime_error(description)
        , m_code(code)
    {
    }

    int code() const { return m_code; }
    static constexpr const char* domain = "Quillpost";

private:
    int m_code;
};

// A failure reported by the file system, carrying a sentence the user can read.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}
