#include "common/SecretBytes.h"

#include <openssl/crypto.h>

namespace quillpost {

// Out of line: inlined, GCC 12 mistakes the write up to the capacity for one past the object.
void wipeString(std::string& text)
{
    text.resize(text.capacity());
    OPENSSL_cleanse(text.data(), text.size());
    text.clear();
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : m_bytes(other.m_bytes)
{
    other.wipe();
}

SecretBytes& SecretBytes::operator=(SecretBytes other) noexcept
{
    wipe();
    m_bytes = other.m_bytes;
    other.wipe();
    return *this;
}

void SecretBytes::wipe()
{
    wipeString(m_bytes);
}

}
