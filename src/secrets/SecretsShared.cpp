#include "secrets/Secrets.h"

#include "platform/Clipboard.h"
#include "platform/Fingerprint.h"
#include "platform/Keyring.h"
#include "platform/MainQueue.h"
#include "secrets/KeyringDeviceKeyStore.h"

namespace quillpost {

DeviceKeyStore& DeviceKeyStore::shared()
{
    static DeviceKeyStore* const store = new KeyringDeviceKeyStore(Keyring::shared());
    return *store;
}

Secrets& Secrets::shared()
{
    static Secrets* const secrets = new Secrets({ Keyring::shared(), Fingerprint::shared(), DeviceKeyStore::shared(), Clipboard::shared(), MainQueue::shared() });
    return *secrets;
}

}
