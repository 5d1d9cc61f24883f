#pragma once

#include "common/Json.h"
#include "common/SecretBytes.h"
#include "secrets/SealedRecord.h"

#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

class DeviceKeyStore;
class Fingerprint;

// A fingerprint check that has just passed, and the enrolled fingers' state it saw.
struct AuthContext {
    std::optional<std::string> domainState;
};

// Seals short texts (passphrases) so that only this machine's device key opens them again.
class Sealer {
public:
    Sealer(DeviceKeyStore&, Fingerprint&);

    // A device key exists or can be made.
    bool available();

    // The record's JSON bytes. Binding::CurrentFingers binds it to the fingers enrolled now.
    std::string seSeal(std::string_view text, Binding);

    // A fingerprint-bound record needs the context of a check that has just passed; the system
    // here does not prompt by itself.
    SecretBytes seOpen(std::string_view record, const AuthContext* = nullptr);

    // {"available", "roundTrip", "noPlaintext", "tamperRejected", "otherKeyRejected"}, as far as each step runs.
    Json seSelfTest();

private:
    SecretBytes deviceKey();

    DeviceKeyStore& m_deviceKeys;
    Fingerprint& m_fingerprint;
};

}
