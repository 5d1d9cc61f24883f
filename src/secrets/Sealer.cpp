#include "secrets/Sealer.h"

#include <openssl/rand.h>

namespace quillpost {

Sealer::Sealer(DeviceKeyStore& deviceKeys, Fingerprint& fingerprint)
    : m_deviceKeys(deviceKeys)
    , m_fingerprint(fingerprint)
{
}

Fingerprint::Availability Sealer::availability()
{
    auto lookup = m_deviceKeys.deviceKey(DeviceKeyStore::Access::Probe);
    if (lookup.state == DeviceKeyStore::Lookup::State::Unusable)
        return { false, lookup.reason };
    return { true, {} };
}

SecretBytes Sealer::deviceKey(DeviceKeyStore::Access access)
{
    auto lookup = m_deviceKeys.deviceKey(access);
    if (lookup.state == DeviceKeyStore::Lookup::State::Missing)
        throw SealError(SealError::Code::Refused, "This computer has no device key, so no record sealed before opens");
    if (!lookup.key)
        throw SealError(SealError::Code::Unsupported, lookup.reason);
    return std::move(*lookup.key);
}

std::string Sealer::seSeal(std::string_view text, Binding binding)
{
    std::optional<std::string> fingers;
    if (binding == Binding::CurrentFingers) {
        fingers = m_fingerprint.domainState();
        // Checked before the device key is looked up, so a sealing that can't succeed makes no key.
        if (!fingers)
            throw SealError(SealError::Code::Unsupported, "No enrolled fingerprints to bind the key to");
    }
    auto key = deviceKey(DeviceKeyStore::Access::ReadOrCreate);
    return SealedRecord::seal(text, key, binding, fingers);
}

SecretBytes Sealer::seOpen(std::string_view record, const AuthContext* context)
{
    auto parts = SealedRecord::parse(record);
    if (!parts)
        throw SealError(SealError::Code::Malformed, "Not a sealed record");
    auto key = deviceKey(DeviceKeyStore::Access::Read);
    return SealedRecord::open(*parts, key, context ? context->domainState : std::nullopt);
}

Json Sealer::seSelfTest()
{
    static constexpr std::string_view testText = "Quillpost self-test"; // 19 characters
    Json result = Json::object();
    auto lookup = m_deviceKeys.deviceKey(DeviceKeyStore::Access::Probe);
    result["available"] = lookup.state != DeviceKeyStore::Lookup::State::Unusable;
    if (!result["available"].get<bool>())
        return result;
    // Before the first sealing there is no device key, and a test is no reason to make one.
    SecretBytes key;
    if (lookup.key) {
        key = std::move(*lookup.key);
    } else {
        key.resize(DeviceKeyStore::keySize);
        if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1)
            return result;
    }

    auto seal = [&key](std::string_view text) -> std::optional<std::string> {
        try {
            return SealedRecord::seal(text, key, Binding::None, std::nullopt);
        } catch (const SealError&) {
            return std::nullopt;
        }
    };
    auto opens = [&key](const std::string& candidate) {
        auto parts = SealedRecord::parse(candidate);
        if (!parts)
            return false;
        try {
            return SealedRecord::open(*parts, key, std::nullopt).view() == testText;
        } catch (const SealError&) {
            return false;
        }
    };
    auto record = seal(testText);
    if (!record)
        return result;
    result["roundTrip"] = opens(*record);
    result["noPlaintext"] = record->find(testText) == std::string::npos;

    auto altered = SealedRecord::parse(*record);
    if (!altered)
        return result;
    altered->box.back() = static_cast<char>(altered->box.back() ^ 1);
    result["tamperRejected"] = !opens(SealedRecord::encode(*altered));

    auto otherRecord = seal("x");
    auto other = otherRecord ? SealedRecord::parse(*otherRecord) : std::nullopt;
    if (!other)
        return result;
    altered->key = other->key;
    result["otherKeyRejected"] = !opens(SealedRecord::encode(*altered));
    return result;
}

}
