#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace quillpost {

// Bytes of a passphrase or a key: wiped from memory when they go, and when they are moved away.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(std::string bytes)
        : m_bytes(std::move(bytes))
    {
    }
    SecretBytes(const char* data, std::size_t size)
        : m_bytes(data, size)
    {
    }
    SecretBytes(const SecretBytes& other)
        : m_bytes(other.m_bytes)
    {
    }
    // Copies, then wipes the source: a moved std::string may leave its bytes behind in a short buffer.
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(SecretBytes other) noexcept;
    ~SecretBytes() { wipe(); }

    std::string_view view() const { return m_bytes; }
    const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(m_bytes.data()); }
    unsigned char* data() { return reinterpret_cast<unsigned char*>(m_bytes.data()); }
    std::size_t size() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }
    // Sized for an output that is written in place.
    void resize(std::size_t size) { m_bytes.resize(size); }

    void wipe();

private:
    std::string m_bytes;
};

// Wipes a plain string that held a secret: the whole buffer, including what a shorter value left in it.
void wipeString(std::string& text);

}
