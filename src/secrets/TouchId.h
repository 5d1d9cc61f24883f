#pragma once

#include "common/Json.h"
#include "platform/Fingerprint.h"
#include "platform/InlinePromptView.h"
#include "secrets/FingerprintChecks.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillpost {

class InlinePromptView;
class Keyring;
class MainQueue;
class Sealer;

// Passphrases given back for a finger on the reader. Each base account ("passphrase" for the
// data, "vault" for the client-account vault) has up to three password-store items: base + "-se"
// (the sealed record, Base64), base + "-fingers" (the enrolled fingers' state when it was saved,
// Base64) and base alone (a plain passphrase left by an earlier version, migrated on unlock).
class TouchId {
public:
    static constexpr const char* keychainService = "Quillpost Touch ID";
    static constexpr const char* dataAccount = "passphrase";

    // The passphrase (a string), an outcome object such as {"cancelled": true}, or null.
    using Answer = std::function<void(Json)>;

    TouchId(Keyring&, Fingerprint&, Sealer&, MainQueue&);

    // Whether a passphrase can be saved: a device key store and a reader with enrolled fingers.
    Fingerprint::Availability availability();

    bool touchEnabled(const std::string& base);
    bool touchSave(const std::string& passphrase, const std::string& base);
    void touchClear(const std::string& base);
    void touchUnlock(const std::string& base, const std::string& reason, Answer);

    // The inline prompt: the fingerprint mark at the page's rectangle while the reader waits.
    void setInlineView(std::weak_ptr<InlinePromptView> view) { m_inlineView = std::move(view); }
    void touchInline(const std::string& base, const Json& rect, Answer);
    void inlineMove(const Json& rect);
    // Ends the lock screen's checks: the inline prompt and any unlock of the data passphrase.
    void inlineCancel();
    bool inlineShown() const { return m_inlineCtx != nullptr; }

    // The desktop is locking: every check gives the reader back, and new ones wait for the
    // window's focus to come back (FingerprintChecks::pause).
    void pauseChecks(std::function<bool()> windowActive) { m_checks.pause(std::move(windowActive)); }
    const FingerprintChecks& checks() const { return m_checks; }

private:
    // The sealed item of a base account, told apart from a store that couldn't be read.
    struct StoredRecord {
        enum class State { None, Sealed, Unreachable };
        State state { State::None };
        std::string record;
    };

    bool keychainWrite(const std::string& value, const std::string& account);
    std::optional<std::string> keychainRead(const std::string& account);
    StoredRecord sealedRecord(const std::string& base);
    void writeFingers(const std::string& base);
    std::optional<std::string> fingersNow();
    void openSealed(const std::string& base, const std::string& record, const Fingerprint::Result&, const Answer&);
    void unsealFailed(const std::string& base, const Answer&);
    void unlockLegacy(const std::string& base, const std::string& reason, Answer);
    void endInlinePrompt();
    void rememberUnlock(const std::string& base, const std::shared_ptr<Fingerprint::Verification>&);
    std::optional<ViewFrame> frameOf(const Json& rect, InlinePromptView&);

    Keyring& m_keyring;
    Fingerprint& m_fingerprint;
    Sealer& m_sealer;
    FingerprintChecks m_checks;
    // The data passphrase's unlocks in progress, which leave with the lock screen.
    std::vector<std::weak_ptr<Fingerprint::Verification>> m_dataUnlocks;
    std::weak_ptr<InlinePromptView> m_inlineView;
    // The check of the inline prompt in progress; its identity ties a reply to the prompt.
    struct InlineContext {
        std::shared_ptr<Fingerprint::Verification> verification;
    };
    std::shared_ptr<InlineContext> m_inlineCtx;
    bool m_inlineViewShown { false };
};

}
