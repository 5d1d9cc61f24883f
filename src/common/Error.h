#pragma once

#include <stdexcept>
#include <string>
#include <system_error>

namespace quillpost {

// An error made by the program itself, in the "Quillpost" domain with a small code
// (store: 1 refused restore, 2 document would not open, 3 readable copies not removed while
// data.json is readable itself, 4 a readable copy refused over encrypted data).
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

// A failure reported by the file system, carrying a sentence the user can read and, where the
// system gave one, its error code, so that callers can tell a full disk from a read-only one.
class FileError : public std::runtime_error {
public:
    explicit FileError(const std::string& description, std::error_code code = {})
        : std::runtime_error(description)
        , m_code(code)
    {
    }

    const std::error_code& code() const { return m_code; }

private:
    std::error_code m_code;
};

}
