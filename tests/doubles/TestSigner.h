#pragma once

#include "common/Base64.h"

#include <memory>
#include <openssl/evp.h>
#include <string>
#include <string_view>

namespace quillpost {

// A signing key of the test's own, standing in for the maker's.
class TestSigner {
public:
    std::string publicKey() const
    {
        std::string raw(32, '\0');
        size_t size = raw.size();
        EVP_PKEY_get_raw_public_key(m_key.get(), reinterpret_cast<unsigned char*>(raw.data()), &size);
        return base64Encode(raw);
    }

    std::string sign(std::string_view message) const
    {
        std::string signature(64, '\0');
        size_t size = signature.size();
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get());
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
            reinterpret_cast<const unsigned char*>(message.data()), message.size());
        return base64Encode(signature);
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key { EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free };
};

}
