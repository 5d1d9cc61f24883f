#include "secrets/SealedRecord.h"

#include "common/Base64.h"
#include "common/Json.h"
#include "common/JsonText.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <array>
#include <memory>

namespace quillpost::SealedRecord {

namespace {

constexpr std::size_t nonceSize = 12;
constexpr std::size_t tagSize = 16;
constexpr std::size_t scalarSize = 32;
constexpr const char* curve = "prime256v1";
constexpr std::string_view wrapLabel = "Quillpost device-bound key";

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct BignumFree {
    void operator()(BIGNUM* number) const { BN_clear_free(number); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree>;
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;

[[noreturn]] void refused(const char* what)
{
    throw SealError(SealError::Code::Refused, what);
}

std::string randomBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(size)) != 1)
        throw SealError(SealError::Code::Unsupported, "No secure random bytes");
    return bytes;
}

// nonce ‖ ciphertext ‖ tag.
std::string gcmSeal(const SecretBytes& key, std::string_view plaintext, std::string_view associatedData)
{
    CipherContext context(EVP_CIPHER_CTX_new());
    std::string nonce = randomBytes(nonceSize);
    std::string out = nonce;
    out.resize(nonceSize + plaintext.size() + tagSize);
    auto* cipherText = reinterpret_cast<unsigned char*>(out.data() + nonceSize);
    int length = 0;
    bool ok = context
        && EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, nonceSize, nullptr) == 1
        && EVP_EncryptInit_ex(context.get(), nullptr, nullptr, key.data(), reinterpret_cast<const unsigned char*>(nonce.data())) == 1
        && (associatedData.empty() || EVP_EncryptUpdate(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(associatedData.data()), static_cast<int>(associatedData.size())) == 1)
        && EVP_EncryptUpdate(context.get(), cipherText, &length, reinterpret_cast<const unsigned char*>(plaintext.data()), static_cast<int>(plaintext.size())) == 1
        && EVP_EncryptFinal_ex(context.get(), cipherText + length, &length) == 1
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, tagSize, out.data() + nonceSize + plaintext.size()) == 1;
    if (!ok)
        throw SealError(SealError::Code::Unsupported, "AES-GCM sealing failed");
    return out;
}

SecretBytes gcmOpen(const SecretBytes& key, std::string_view sealed, std::string_view associatedData)
{
    if (sealed.size() < nonceSize + tagSize)
        throw SealError(SealError::Code::Malformed, "Sealed bytes too short");
    const auto textSize = sealed.size() - nonceSize - tagSize;
    SecretBytes plaintext;
    plaintext.resize(textSize);
    std::string tag(sealed.substr(nonceSize + textSize));
    CipherContext context(EVP_CIPHER_CTX_new());
    int length = 0;
    int finalLength = 0;
    bool ok = context
        && EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, nonceSize, nullptr) == 1
        && EVP_DecryptInit_ex(context.get(), nullptr, nullptr, key.data(), reinterpret_cast<const unsigned char*>(sealed.data())) == 1
        && (associatedData.empty() || EVP_DecryptUpdate(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(associatedData.data()), static_cast<int>(associatedData.size())) == 1)
        && EVP_DecryptUpdate(context.get(), plaintext.data(), &length, reinterpret_cast<const unsigned char*>(sealed.data() + nonceSize), static_cast<int>(textSize)) == 1
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, tagSize, tag.data()) == 1
        && EVP_DecryptFinal_ex(context.get(), plaintext.data() + length, &finalLength) == 1;
    if (!ok) {
        plaintext.wipe();
        refused("The sealed bytes did not authenticate");
    }
    return plaintext;
}

std::string sha256(std::string_view bytes)
{
    std::array<unsigned char, 32> digest {};
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1)
        throw SealError(SealError::Code::Unsupported, "SHA-256 failed");
    return std::string(reinterpret_cast<const char*>(digest.data()), size);
}

std::string wrapAssociatedData(Binding binding, const std::optional<std::string>& fingerState)
{
    std::string data(wrapLabel);
    data.push_back(binding == Binding::CurrentFingers ? '\1' : '\0');
    if (binding == Binding::CurrentFingers)
        data.append(sha256(*fingerState));
    return data;
}

Pkey generateKey()
{
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key)
        throw SealError(SealError::Code::Unsupported, "P-256 key generation failed");
    return key;
}

// X ‖ Y, without the leading 0x04.
std::string rawPublicKey(EVP_PKEY* key)
{
    std::array<unsigned char, 1 + publicKeySize> point {};
    std::size_t size = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &size) != 1 || size != point.size() || point[0] != 0x04)
        throw SealError(SealError::Code::Unsupported, "P-256 public key unavailable");
    return std::string(reinterpret_cast<const char*>(point.data()) + 1, publicKeySize);
}

SecretBytes privateScalar(EVP_PKEY* key)
{
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &raw) != 1)
        throw SealError(SealError::Code::Unsupported, "P-256 private key unavailable");
    Bignum number(raw);
    SecretBytes scalar;
    scalar.resize(scalarSize);
    if (BN_bn2binpad(number.get(), scalar.data(), scalarSize) != static_cast<int>(scalarSize))
        throw SealError(SealError::Code::Unsupported, "P-256 private key unavailable");
    return scalar;
}

Pkey keyFromData(OSSL_PARAM* params, int selection)
{
    PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 || EVP_PKEY_fromdata(context.get(), &key, selection, params) != 1)
        return nullptr;
    return Pkey(key);
}

Pkey publicKeyFromRaw(std::string_view raw)
{
    std::string point(1, '\x04');
    point.append(raw);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>(curve), 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()),
        OSSL_PARAM_construct_end(),
    };
    auto key = keyFromData(params, EVP_PKEY_PUBLIC_KEY);
    if (!key)
        refused("The ephemeral key is not a P-256 point");
    // The import reads the bytes; this check proves the point is on the curve.
    PkeyContext check(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1)
        refused("The ephemeral key is not a P-256 point");
    return key;
}

Pkey privateKeyFromScalar(const SecretBytes& scalar)
{
    Bignum number(BN_secure_new());
    if (!number || !BN_bin2bn(scalar.data(), static_cast<int>(scalar.size()), number.get()))
        refused("The record's key does not load");
    // OSSL_PARAM_BLD would copy; a native-endian buffer the parameter can point at is enough.
    SecretBytes native;
    native.resize(scalarSize);
    if (BN_bn2nativepad(number.get(), native.data(), scalarSize) != static_cast<int>(scalarSize))
        refused("The record's key does not load");
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>(curve), 0),
        OSSL_PARAM_construct_BN(OSSL_PKEY_PARAM_PRIV_KEY, native.data(), native.size()),
        OSSL_PARAM_construct_end(),
    };
    auto key = keyFromData(params, EVP_PKEY_KEYPAIR);
    if (!key)
        refused("The record's key does not load");
    return key;
}

SecretBytes sharedSecret(EVP_PKEY* privateKey, EVP_PKEY* publicKey)
{
    PkeyContext context(EVP_PKEY_CTX_new(privateKey, nullptr));
    std::size_t size = 0;
    if (!context || EVP_PKEY_derive_init(context.get()) != 1 || EVP_PKEY_derive_set_peer(context.get(), publicKey) != 1
        || EVP_PKEY_derive(context.get(), nullptr, &size) != 1)
        refused("Key agreement failed");
    SecretBytes secret;
    secret.resize(size);
    if (EVP_PKEY_derive(context.get(), secret.data(), &size) != 1)
        refused("Key agreement failed");
    secret.resize(size);
    return secret;
}

SecretBytes symmetricKey(const SecretBytes& secret, std::string_view ephemeral)
{
    std::unique_ptr<EVP_KDF, decltype(&EVP_KDF_free)> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr), EVP_KDF_free);
    std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> context(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr, EVP_KDF_CTX_free);
    std::string salt(seSalt);
    std::string info(ephemeral);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<unsigned char*>(secret.data()), secret.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, salt.data(), salt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
        OSSL_PARAM_construct_end(),
    };
    SecretBytes key;
    key.resize(32);
    if (!context || EVP_KDF_derive(context.get(), key.data(), key.size(), params) != 1)
        throw SealError(SealError::Code::Unsupported, "HKDF-SHA256 failed");
    return key;
}

void requireDeviceKey(const SecretBytes& deviceKey)
{
    if (deviceKey.size() != 32)
        throw SealError(SealError::Code::Unsupported, "The device key is not 32 bytes");
}

bool validUtf8Text(std::string_view bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto c = static_cast<unsigned char>(bytes[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (!length || i + length > bytes.size() || (length == 2 && c < 0xC2) || c > 0xF4)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80)
                return false;
        }
        auto second = static_cast<unsigned char>(length > 1 ? bytes[i + 1] : 0);
        if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) || (c == 0xF4 && second > 0x8F))
            return false;
        i += length;
    }
    return true;
}

}

Binding Parts::binding() const
{
    return !key.empty() && key[0] == '\1' ? Binding::CurrentFingers : Binding::None;
}

std::optional<Parts> parse(std::string_view record)
{
    // Limited in depth: the keyring's text is read like anything else from outside.
    Json json = parseJsonText(record);
    if (json.is_discarded() || !json.is_object())
        return std::nullopt;
    auto member = [&](const char* name) -> std::optional<std::string> {
        auto it = json.find(name);
        if (it == json.end() || !it->is_string())
            return std::nullopt;
        return base64Decode(it->get_ref<const std::string&>());
    };
    auto key = member("key");
    auto eph = member("eph");
    auto box = member("box");
    if (!key || !eph || !box)
        return std::nullopt;
    if (key->size() != wrappedKeySize || (key->front() != '\0' && key->front() != '\1'))
        return std::nullopt;
    if (eph->size() != publicKeySize || box->size() < boxOverhead)
        return std::nullopt;
    return Parts { std::move(*key), std::move(*eph), std::move(*box) };
}

std::string encode(const Parts& parts)
{
    // Built by hand: the JSON library would sort the members, and the order is part of the form.
    std::string text = "{\"key\":\"";
    text.append(base64Encode(parts.key));
    text.append("\",\"eph\":\"");
    text.append(base64Encode(parts.eph));
    text.append("\",\"box\":\"");
    text.append(base64Encode(parts.box));
    text.append("\"}");
    return text;
}

std::string seal(std::string_view text, const SecretBytes& deviceKey, Binding binding, const std::optional<std::string>& fingerState)
{
    requireDeviceKey(deviceKey);
    if (binding == Binding::CurrentFingers && !fingerState)
        throw SealError(SealError::Code::Unsupported, "No enrolled fingerprints to bind the key to");

    auto recordKey = generateKey();
    auto ephemeral = generateKey();
    auto ephemeralPublic = rawPublicKey(ephemeral.get());
    auto secret = sharedSecret(ephemeral.get(), recordKey.get());
    auto key = symmetricKey(secret, ephemeralPublic);

    Parts parts;
    auto scalar = privateScalar(recordKey.get());
    parts.key.push_back(binding == Binding::CurrentFingers ? '\1' : '\0');
    parts.key.append(gcmSeal(deviceKey, scalar.view(), wrapAssociatedData(binding, fingerState)));
    parts.eph = std::move(ephemeralPublic);
    parts.box = gcmSeal(key, text, {});
    return encode(parts);
}

SecretBytes open(const Parts& parts, const SecretBytes& deviceKey, const std::optional<std::string>& fingerState)
{
    requireDeviceKey(deviceKey);
    if (parts.key.size() != wrappedKeySize || parts.eph.size() != publicKeySize || parts.box.size() < boxOverhead)
        throw SealError(SealError::Code::Malformed, "Not a sealed record");
    const Binding binding = parts.binding();
    if (binding == Binding::CurrentFingers && !fingerState)
        throw SealError(SealError::Code::NeedsFingerprint, "This record opens only after a fingerprint check");

    auto scalar = gcmOpen(deviceKey, std::string_view(parts.key).substr(1), wrapAssociatedData(binding, fingerState));
    auto recordKey = privateKeyFromScalar(scalar);
    auto ephemeral = publicKeyFromRaw(parts.eph);
    auto secret = sharedSecret(recordKey.get(), ephemeral.get());
    auto key = symmetricKey(secret, parts.eph);
    auto text = gcmOpen(key, parts.box, {});
    if (!validUtf8Text(text.view()))
        throw SealError(SealError::Code::InvalidText, "The sealed text is not UTF-8");
    return text;
}

}
