#pragma once

#include <optional>
#include <string>

namespace quillpost {

// The desktop's password store (the Secret Service): small text items found by service and account.
class Keyring {
public:
    virtual ~Keyring() = default;

    // False when there is no password store to talk to (no session bus, no Secret Service).
    virtual bool available() = 0;

    // The item's text, or nothing when there is none or the store can't be read.
    virtual std::optional<std::string> read(const std::string& service, const std::string& account) = 0;

    // Stores the text in place of any item of that service and account; false when the store refused.
    virtual bool write(const std::string& service, const std::string& account, const std::string& value) = 0;

    // Deletes the item; a missing item is no error.
    virtual void remove(const std::string& service, const std::string& account) = 0;

    static Keyring& shared();
};

}
