#pragma once

#include "common/SecretBytes.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillpost {

class SealError : public std::runtime_error {
public:
    enum class Code {
        Unsupported, // no device key here
        Malformed, // not a sealed record
        Refused, // another device, another record's key, altered bytes, changed fingers
        NeedsFingerprint, // a fingerprint-bound record opened without a passed check
        InvalidText, // opened, but the text is not UTF-8
    };

    SealError(Code code, const std::string& description)
        : std::runtime_error(description)
        , m_code(code)
    {
    }
    Code code() const { return m_code; }

private:
    Code m_code;
};

// Whether a sealed record opens only with the fingerprints enrolled when it was made.
enum class Binding { None, CurrentFingers };

// One sealed record: {"key", "eph", "box"}, each Base64 of bytes.
//   key: the record's own P-256 private key wrapped under the device key with AES-256-GCM:
//        binding (1 byte: 0 none, 1 current fingers), nonce (12), wrapped scalar (32), tag (16).
//        A bound key's associated data carries the digest of the enrolled fingers' state.
//   eph: the ephemeral P-256 public key, X then Y, 32 bytes each.
//   box: nonce (12), ciphertext of the UTF-8 text, tag (16), under
//        HKDF-SHA256(ECDH(key, eph), salt = seSalt, info = eph).
namespace SealedRecord {

// The same in every installation; it only has to match between sealing and opening.
inline constexpr std::string_view seSalt = "Quillpost sealed text";
static_assert(seSalt.size() == 21);

inline constexpr std::size_t wrappedKeySize = 1 + 12 + 32 + 16;
inline constexpr std::size_t publicKeySize = 64;
inline constexpr std::size_t boxOverhead = 12 + 16;

struct Parts {
    std::string key;
    std::string eph;
    std::string box;
    Binding binding() const;
};

// Reads a record strictly: a JSON object with the three members as Base64 of the right sizes.
std::optional<Parts> parse(std::string_view record);
// {"key":…,"eph":…,"box":…} in this order.
std::string encode(const Parts&);

// fingerState: the enrolled fingers' state; required for Binding::CurrentFingers.
std::string seal(std::string_view text, const SecretBytes& deviceKey, Binding, const std::optional<std::string>& fingerState);
// fingerState: the state at a fingerprint check that has just passed, for a bound record; ignored otherwise.
SecretBytes open(const Parts&, const SecretBytes& deviceKey, const std::optional<std::string>& fingerState);

}

}
