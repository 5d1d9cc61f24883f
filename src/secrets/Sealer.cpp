#include "secrets/Sealer.h"

#include "common/Base64.h"
#include "platform/DeviceKeyStore.h"
#include "platform/Fingerprint.h"

namespace quillpost {

Sealer::Sealer(DeviceKeyStore& deviceKeys, Fingerprint& fingerprint)
    : m_deviceKeys(deviceKeys)
    , m_fingerprint(fingerprint)
{
}

bool Sealer::available()
{
    return m_deviceKeys.deviceKey().has_value();
}

SecretBytes Sealer::deviceKey()
{
    auto key = m_deviceKeys.deviceKey();
    if (!key)
        throw SealError(SealError::Code::Unsupported, "There is no device key store on this computer");
    return std::move(*key);
}

std::string Sealer::seSeal(std::string_view text, Binding binding)
{
    auto key = deviceKey();
    std::optional<std::string> fingers;
    if (binding == Binding::CurrentFingers)
        fingers = m_fingerprint.domainState();
    return SealedRecord::seal(text, key, binding, fingers);
}

SecretBytes Sealer::seOpen(std::string_view record, const AuthContext* context)
{
    auto parts = SealedRecord::parse(record);
    if (!parts)
        throw SealError(SealError::Code::Malformed, "Not a sealed record");
    auto key = deviceKey();
    return SealedRecord::open(*parts, key, context ? context->domainState : std::nullopt);
}

Json Sealer::seSelfTest()
{
    static constexpr std::string_view testText = "Quillpost self-test"; // 19 characters
    Json result = Json::object();
    result["available"] = available();
    if (!result["available"].get<bool>())
        return result;

    std::string record;
    try {
        record = seSeal(testText, Binding::None);
    } catch (const SealError&) {
        return result;
    }
    auto opens = [this](const std::string& candidate) {
        try {
            return seOpen(candidate).view() == testText;
        } catch (const SealError&) {
            return false;
        }
    };
    result["roundTrip"] = opens(record);
    result["noPlaintext"] = record.find(testText) == std::string::npos;

    auto altered = SealedRecord::parse(record);
    if (!altered)
        return result;
    altered->box.back() = static_cast<char>(altered->box.back() ^ 1);
    result["tamperRejected"] = !opens(SealedRecord::encode(*altered));

    std::optional<SealedRecord::Parts> other;
    try {
        other = SealedRecord::parse(seSeal("x", Binding::None));
    } catch (const SealError&) {
    }
    if (!other)
        return result;
    altered->key = other->key;
    result["otherKeyRejected"] = !opens(SealedRecord::encode(*altered));
    return result;
}

}
