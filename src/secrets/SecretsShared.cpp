#include "secrets/Secrets.h"

#include "platform/Clipboard.h"
#include "platform/DeviceKeyStore.h"
#include "platform/Fingerprint.h"
#include "platform/Keyring.h"
#include "platform/MainQueue.h"

namespace quillpost {

Secrets& Secrets::shared()
{
    static Secrets* const secrets = new Secrets({ Keyring::shared(), Fingerprint::shared(), DeviceKeyStore::shared(), Clipboard::shared(), MainQueue::shared() });
    return *secrets;
}

}
