#pragma once

#include "common/Json.h"
#include "common/SecretBytes.h"
#include "platform/DeviceKeyStore.h"
#include "platform/Fingerprint.h"
#include "secrets/SealedRecord.h"

#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// A fingerprint check that has just passed, and the enrolled fingers' state it saw.
struct AuthContext {
    std::optional<std::string> domainState;
};

// Seals short texts (passphrases) so that only this machine's device key opens them again.
class Sealer {
public:
    Sealer(DeviceKeyStore&, Fingerprint&);

    // A device key exists or can be made; otherwise why not. Asks nothing and writes nothing.
    Fingerprint::Availability availability();

    // The record's JSON bytes. Binding::CurrentFingers binds it to the fingers enrolled now.
    // Makes the device key when the password store says for certain that there is none yet.
    std::string seSeal(std::string_view text, Binding);

    // A fingerprint-bound record needs the context of a check that has just passed; the system
    // here does not prompt by itself.
    SecretBytes seOpen(std::string_view record, const AuthContext* = nullptr);

    // {"available", "roundTrip", "noPlaintext", "tamperRejected", "otherKeyRejected"}, as far as
    // each step runs. Writes nothing: without a device key yet it seals under a key of its own.
    Json seSelfTest();

private:
    SecretBytes deviceKey(DeviceKeyStore::Access);

    DeviceKeyStore& m_deviceKeys;
    Fingerprint& m_fingerprint;
};

}
