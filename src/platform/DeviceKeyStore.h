#pragma once

#include "common/SecretBytes.h"

#include <optional>
#include <string>

namespace quillpost {

// This machine's device key: 32 random bytes made once and kept in the password store. Sealed
// records wrap their own keys under it, so a record from another machine does not open here.
// An existing key is never replaced: every record sealed under it would become unreadable.
class DeviceKeyStore {
public:
    static constexpr std::size_t keySize = 32;

    enum class Access {
        // Looks without asking the user to unlock anything and without writing anything.
        Probe,
        // May show the store's unlock prompt; never writes.
        Read,
        // As Read, and makes and stores a key when the store said for certain that it has none.
        ReadOrCreate,
    };

    struct Lookup {
        enum class State {
            Ready,
            // The store has no key yet (it was searched, unlocked); sealing would make one.
            Missing,
            // Locked, unreachable, damaged or refused: the reason says which, for the page.
            Unusable,
        };

        State state { State::Unusable };
        std::optional<SecretBytes> key;
        std::string reason;
    };

    virtual ~DeviceKeyStore() = default;

    virtual Lookup deviceKey(Access) = 0;

    static DeviceKeyStore& shared();
};

}
