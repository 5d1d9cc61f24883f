#include "secrets/KeyringDeviceKeyStore.h"

#include "common/Base64.h"

#include <openssl/rand.h>

namespace quillpost {

namespace {

using State = DeviceKeyStore::Lookup::State;
using Status = Keyring::Lookup::Status;

DeviceKeyStore::Lookup unusable(std::string reason)
{
    return { State::Unusable, std::nullopt, std::move(reason) };
}

std::string withDetail(std::string text, const std::string& detail)
{
    if (!detail.empty())
        text.append(" (").append(detail).append(")");
    return text.append(".");
}

}

KeyringDeviceKeyStore::KeyringDeviceKeyStore(Keyring& keyring)
    : m_keyring(keyring)
{
}

DeviceKeyStore::Lookup KeyringDeviceKeyStore::deviceKey(Access access)
{
    auto interaction = access == Access::Probe ? Keyring::Interaction::Never : Keyring::Interaction::MayAsk;
    auto found = read(interaction);
    if (found.state != State::Missing || access != Access::ReadOrCreate)
        return found;
    return create();
}

DeviceKeyStore::Lookup KeyringDeviceKeyStore::read(Keyring::Interaction interaction)
{
    auto stored = m_keyring.lookup(service, account, interaction);
    switch (stored.status) {
    case Status::NotFound:
        return { State::Missing, std::nullopt, {} };
    case Status::Locked:
        return unusable(withDetail("Your password store (keyring) is locked, so Quillpost can't reach the device key that fingerprint unlock needs. Unlock the keyring, then try again", stored.detail));
    case Status::Unavailable:
        return unusable(withDetail("Quillpost can't reach a password store (Secret Service) to keep its device key in", stored.detail));
    case Status::Found:
        break;
    }
    auto decoded = base64Decode(stored.value);
    wipeString(stored.value);
    if (!decoded || decoded->size() != keySize) {
        if (decoded)
            wipeString(*decoded);
        // Replacing a damaged key would make every record sealed under it unreadable for good.
        return unusable("The device key in your password store is damaged, so fingerprint unlock stays off until the item \"Quillpost Device Key\" is removed.");
    }
    Lookup ready { State::Ready, SecretBytes(decoded->data(), decoded->size()), {} };
    wipeString(*decoded);
    return ready;
}

DeviceKeyStore::Lookup KeyringDeviceKeyStore::create()
{
    SecretBytes key;
    key.resize(keySize);
    if (RAND_bytes(key.data(), static_cast<int>(keySize)) != 1)
        return unusable("Quillpost couldn't make a device key: the system gave no random bytes.");
    // Looked for once more right before the write: a key that appeared meanwhile is kept, not replaced.
    auto again = read(Keyring::Interaction::MayAsk);
    if (again.state != State::Missing)
        return again;
    auto encoded = base64Encode(key.view());
    bool stored = m_keyring.write(service, account, encoded);
    wipeString(encoded);
    if (!stored)
        return unusable("Your password store (keyring) refused to keep Quillpost's device key.");
    return { State::Ready, std::move(key), {} };
}

}
