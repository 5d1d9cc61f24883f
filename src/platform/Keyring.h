#pragma once

#include <string>

namespace quillpost {

// The desktop's password store (the Secret Service): small text items found by service and account.
class Keyring {
public:
    // Whether a lookup may show the store's own unlock prompt. A probe (is fingerprint unlock
    // possible here?) never does; an action the user started may.
    enum class Interaction { Never, MayAsk };

    struct Lookup {
        enum class Status {
            Found,
            // The store was searched, unlocked, and holds no such item.
            NotFound,
            // The item, or the collection it would be in, is locked (and stayed locked: no prompt
            // was allowed, or the user dismissed it).
            Locked,
            // No store to ask (no session bus, no Secret Service), or it answered with an error.
            Unavailable,
        };

        Status status { Status::Unavailable };
        // The item's text when Found.
        std::string value;
        // For Locked and Unavailable: what the store said, for the log and the page.
        std::string detail;

        bool found() const { return status == Status::Found; }
    };

    virtual ~Keyring() = default;

    // Only Status::NotFound means there is no such item; every other failure says why it can't tell.
    virtual Lookup lookup(const std::string& service, const std::string& account, Interaction) = 0;

    // Stores the text in place of any item of that service and account; false when the store refused.
    virtual bool write(const std::string& service, const std::string& account, const std::string& value) = 0;

    // Deletes the item; a missing item is no error.
    virtual void remove(const std::string& service, const std::string& account) = 0;

    static Keyring& shared();
};

}
