#pragma once

#include "common/SecretBytes.h"

#include <optional>

namespace quillpost {

// This machine's device key: 32 random bytes made once and kept in the password store. Sealed
// records wrap their own keys under it, so a record from another machine does not open here.
class DeviceKeyStore {
public:
    static constexpr std::size_t keySize = 32;

    virtual ~DeviceKeyStore() = default;

    // The device key, made on first use; nothing when the password store can't keep one.
    virtual std::optional<SecretBytes> deviceKey() = 0;

    static DeviceKeyStore& shared();
};

}
