#include "platform/DeviceKeyStore.h"

#include "common/Base64.h"
#include "platform/Keyring.h"
#include "platform/Log.h"

#include <openssl/rand.h>

namespace quillpost {

namespace {

constexpr const char* service = "Quillpost Device Key";
constexpr const char* account = "device";

// The device key as an item of the password store, which keeps it for this user on this machine.
class KeyringDeviceKeyStore final : public DeviceKeyStore {
public:
    explicit KeyringDeviceKeyStore(Keyring& keyring)
        : m_keyring(keyring)
    {
    }

    std::optional<SecretBytes> deviceKey() override
    {
        if (!m_keyring.available())
            return std::nullopt;
        if (auto stored = m_keyring.read(service, account)) {
            auto decoded = base64Decode(*stored);
            wipeString(*stored);
            if (decoded && decoded->size() == keySize) {
                std::optional<SecretBytes> key(std::in_place, decoded->data(), decoded->size());
                wipeString(*decoded);
                return key;
            }
            if (decoded)
                wipeString(*decoded);
            // Replacing a damaged key would make every record sealed under it unreadable for good.
            Log::error("The device key in the password store is damaged; fingerprint unlock is off until it is removed.");
            return std::nullopt;
        }
        SecretBytes key;
        key.resize(keySize);
        if (RAND_bytes(key.data(), static_cast<int>(keySize)) != 1)
            return std::nullopt;
        auto encoded = base64Encode(key.view());
        bool stored = m_keyring.write(service, account, encoded);
        wipeString(encoded);
        if (!stored)
            return std::nullopt;
        return key;
    }

private:
    Keyring& m_keyring;
};

}

DeviceKeyStore& DeviceKeyStore::shared()
{
    static DeviceKeyStore* const store = new KeyringDeviceKeyStore(Keyring::shared());
    return *store;
}

}
