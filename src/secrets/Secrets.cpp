#include "secrets/Secrets.h"

namespace quillpost {

Secrets::Secrets(Services services)
    : m_clipboard(services.clipboard)
    , m_sealer(services.deviceKeys, services.fingerprint)
    , m_touchId(services.keyring, services.fingerprint, m_sealer, services.mainQueue)
    , m_secretClipboard(services.clipboard, services.mainQueue)
{
}

}
