#pragma once

#include "secrets/SecretClipboard.h"
#include "secrets/Sealer.h"
#include "secrets/TouchId.h"

namespace quillpost {

class Clipboard;
class DeviceKeyStore;
class Fingerprint;
class Keyring;
class MainQueue;

// The bridge's secrets: sealing, fingerprint unlock and the vault's clipboard, over the platform's
// password store, fingerprint reader and clipboard.
class Secrets {
public:
    struct Services {
        Keyring& keyring;
        Fingerprint& fingerprint;
        DeviceKeyStore& deviceKeys;
        Clipboard& clipboard;
        MainQueue& mainQueue;
    };

    explicit Secrets(Services);

    Sealer& sealer() { return m_sealer; }
    TouchId& touchId() { return m_touchId; }
    SecretClipboard& secretClipboard() { return m_secretClipboard; }
    Clipboard& clipboard() { return m_clipboard; }

    static Secrets& shared();

private:
    Clipboard& m_clipboard;
    Sealer m_sealer;
    TouchId m_touchId;
    SecretClipboard m_secretClipboard;
};

}
