#pragma once

#include "platform/DeviceKeyStore.h"
#include "platform/Keyring.h"

namespace quillpost {

// The device key as an item of the password store, which keeps it for this user on this machine.
// Only a lookup that found the store unlocked and without the item counts as "no key yet"; a
// locked store, a dismissed prompt or an error leaves the key alone and says why.
class KeyringDeviceKeyStore final : public DeviceKeyStore {
public:
    static constexpr const char* service = "Quillpost Device Key";
    static constexpr const char* account = "device";

    explicit KeyringDeviceKeyStore(Keyring&);

    Lookup deviceKey(Access) override;

private:
    Lookup read(Keyring::Interaction);
    Lookup create();

    Keyring& m_keyring;
};

}
