#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quillpost {

// The desktop's clipboard.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // Replaces the contents with the text alone, or with the text and the given marker types,
    // each holding its own value (for clipboard managers, which skip entries marked as secrets).
    virtual void writeText(const std::string& text) = 0;
    virtual void writeText(const std::string& text, const std::vector<std::pair<std::string, std::string>>& markers) = 0;
    virtual void clear() = 0;

    // Goes up with every change of the contents, by this program or any other.
    virtual std::uint64_t changeCount() const = 0;

    // The plain text, or "" when there is none; the completion runs on the main thread.
    virtual void readText(std::function<void(std::string)> completion) = 0;

    // Whether the contents are offered under this type.
    virtual bool hasType(const std::string& type) const = 0;

    static Clipboard& shared();
};

}
