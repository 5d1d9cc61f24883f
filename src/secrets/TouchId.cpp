#include "secrets/TouchId.h"

#include "common/Base64.h"
#include "platform/Keyring.h"
#include "secrets/InlineFrame.h"
#include "secrets/Sealer.h"

namespace quillpost {

namespace {

const std::string sealedSuffix = "-se";
const std::string fingersSuffix = "-fingers";

Json outcome(const char* key)
{
    return Json { { key, true } };
}

// A check that did not pass: the user or the program cancelled it, too many fingers failed, or
// something else went wrong (null).
Json failedCheck(Fingerprint::Outcome result)
{
    switch (result) {
    case Fingerprint::Outcome::Cancelled:
        return outcome("cancelled");
    case Fingerprint::Outcome::Lockout:
        return outcome("lockout");
    default:
        return Json();
    }
}

// The passphrase travels to the page as JSON text; the copy made here is all that is left to wipe.
Json passphraseAnswer(SecretBytes& passphrase)
{
    Json answer = std::string(passphrase.view());
    passphrase.wipe();
    return answer;
}

}

TouchId::TouchId(Keyring& keyring, Fingerprint& fingerprint, Sealer& sealer, MainQueue& mainQueue)
    : m_keyring(keyring)
    , m_fingerprint(fingerprint)
    , m_sealer(sealer)
    , m_checks(fingerprint, mainQueue)
{
}

Fingerprint::Availability TouchId::availability()
{
    auto sealing = m_sealer.availability();
    if (!sealing.available)
        return sealing;
    return m_fingerprint.availability();
}

bool TouchId::keychainWrite(const std::string& value, const std::string& account)
{
    m_keyring.remove(keychainService, account);
    if (value.empty())
        return false;
    return m_keyring.write(keychainService, account, value);
}

std::optional<std::string> TouchId::keychainRead(const std::string& account)
{
    auto lookup = m_keyring.lookup(keychainService, account, Keyring::Interaction::MayAsk);
    if (!lookup.found())
        return std::nullopt;
    return std::move(lookup.value);
}

TouchId::StoredRecord TouchId::sealedRecord(const std::string& base)
{
    auto lookup = m_keyring.lookup(keychainService, base + sealedSuffix, Keyring::Interaction::MayAsk);
    if (lookup.status == Keyring::Lookup::Status::Locked || lookup.status == Keyring::Lookup::Status::Unavailable)
        return { StoredRecord::State::Unreachable, {} };
    auto record = lookup.found() ? base64Decode(lookup.value) : std::nullopt;
    if (!record)
        return { StoredRecord::State::None, {} };
    return { StoredRecord::State::Sealed, std::move(*record) };
}

bool TouchId::touchEnabled(const std::string& base)
{
    return keychainRead(base + sealedSuffix).has_value() || keychainRead(base).has_value();
}

std::optional<std::string> TouchId::fingersNow()
{
    auto state = m_fingerprint.domainState();
    if (!state)
        return std::nullopt;
    return base64Encode(*state);
}

void TouchId::writeFingers(const std::string& base)
{
    if (auto fingers = fingersNow())
        keychainWrite(*fingers, base + fingersSuffix);
}

bool TouchId::touchSave(const std::string& passphrase, const std::string& base)
{
    if (passphrase.empty())
        return false;
    std::string record;
    try {
        record = m_sealer.seSeal(passphrase, Binding::CurrentFingers);
    } catch (const SealError&) {
        return false;
    }
    touchClear(base);
    writeFingers(base);
    return keychainWrite(base64Encode(record), base + sealedSuffix);
}

void TouchId::touchClear(const std::string& base)
{
    m_keyring.remove(keychainService, base + sealedSuffix);
    m_keyring.remove(keychainService, base);
    m_keyring.remove(keychainService, base + fingersSuffix);
}

void TouchId::touchUnlock(const std::string& base, const std::string& reason, Answer answer)
{
    auto stored = sealedRecord(base);
    // A store that stayed locked (or failed) answers null, and asks nothing more of the user.
    if (stored.state == StoredRecord::State::Unreachable) {
        answer(Json());
        return;
    }
    if (stored.state == StoredRecord::State::None) {
        unlockLegacy(base, reason, std::move(answer));
        return;
    }
    auto verification = m_checks.verify(reason, [this, base, record = std::move(stored.record), answer = std::move(answer)](Fingerprint::Result result) {
        openSealed(base, record, result, answer);
    });
    rememberUnlock(base, verification);
}

void TouchId::rememberUnlock(const std::string& base, const std::shared_ptr<Fingerprint::Verification>& verification)
{
    if (base != dataAccount)
        return;
    std::erase_if(m_dataUnlocks, [](auto& unlock) { return unlock.expired(); });
    m_dataUnlocks.push_back(verification);
}

void TouchId::openSealed(const std::string& base, const std::string& record, const Fingerprint::Result& result, const Answer& answer)
{
    if (result.outcome != Fingerprint::Outcome::Verified) {
        answer(failedCheck(result.outcome));
        return;
    }
    AuthContext context { result.domainState };
    try {
        auto passphrase = m_sealer.seOpen(record, &context);
        answer(passphraseAnswer(passphrase));
    } catch (const SealError& error) {
        // Without the device key nothing can be proved about the record: it stays as it is.
        if (error.code() == SealError::Code::Unsupported) {
            answer(outcome("unreadable"));
            return;
        }
        unsealFailed(base, answer);
    }
}

void TouchId::unsealFailed(const std::string& base, const Answer& answer)
{
    auto saved = keychainRead(base + fingersSuffix);
    if (!saved) {
        answer(outcome("unreadable"));
        return;
    }
    auto now = fingersNow();
    if (!now) {
        answer(outcome("unreadable"));
        return;
    }
    if (*saved != *now) {
        touchClear(base);
        answer(outcome("fingersChanged"));
        return;
    }
    answer(outcome("unreadable"));
}

void TouchId::unlockLegacy(const std::string& base, const std::string& reason, Answer answer)
{
    auto legacy = keychainRead(base);
    if (!legacy) {
        answer(Json());
        return;
    }
    auto saved = keychainRead(base + fingersSuffix);
    auto passphrase = std::make_shared<SecretBytes>(std::move(*legacy));
    wipeString(*legacy);
    auto verification = m_checks.verify(reason, [this, base, saved, passphrase, answer = std::move(answer)](Fingerprint::Result result) {
        if (result.outcome != Fingerprint::Outcome::Verified) {
            answer(Json());
            return;
        }
        auto now = result.domainState ? std::optional(base64Encode(*result.domainState)) : std::nullopt;
        if (saved && now && *saved != *now) {
            touchClear(base);
            answer(outcome("fingersChanged"));
            return;
        }
        if (!passphrase->empty()) {
            try {
                auto record = m_sealer.seSeal(passphrase->view(), Binding::CurrentFingers);
                touchClear(base);
                writeFingers(base);
                keychainWrite(base64Encode(record), base + sealedSuffix);
            } catch (const SealError&) {
                // Not sealed this time: the plain item stays, and the next unlock tries again.
            }
        }
        answer(passphraseAnswer(*passphrase));
    });
    rememberUnlock(base, verification);
}

std::optional<ViewFrame> TouchId::frameOf(const Json& rect, InlinePromptView& view)
{
    return inlineFrame(rect, view.pageZoom(), view.flipped(), view.boundsHeight());
}

void TouchId::touchInline(const std::string& base, const Json& rect, Answer answer)
{
    endInlinePrompt();
    auto view = m_inlineView.lock();
    auto frame = view ? frameOf(rect, *view) : std::nullopt;
    auto stored = view && frame ? sealedRecord(base) : StoredRecord {};
    if (stored.state != StoredRecord::State::Sealed) {
        answer(outcome("unsupported"));
        return;
    }

    auto context = std::make_shared<InlineContext>();
    m_inlineCtx = context;
    view->show(*frame, controlSizeFor(*frame));
    m_inlineViewShown = true;
    std::weak_ptr<InlineContext> weakContext = context;
    auto verification = m_checks.verify("unlock your client data", [this, weakContext, base, record = std::move(stored.record), answer = std::move(answer)](Fingerprint::Result result) {
        auto current = weakContext.lock();
        if (!current || current != m_inlineCtx) {
            answer(outcome("cancelled"));
            return;
        }
        if (auto shown = m_inlineView.lock(); shown && m_inlineViewShown)
            shown->hide();
        m_inlineViewShown = false;
        m_inlineCtx = nullptr;
        openSealed(base, record, result, answer);
    });
    // A check that ended at once (no reader) has already cleared the prompt.
    if (m_inlineCtx == context)
        context->verification = std::move(verification);
}

void TouchId::inlineMove(const Json& rect)
{
    auto view = m_inlineView.lock();
    if (!view || !m_inlineViewShown)
        return;
    if (auto frame = frameOf(rect, *view))
        view->move(*frame);
}

void TouchId::inlineCancel()
{
    endInlinePrompt();
    auto unlocks = std::move(m_dataUnlocks);
    m_dataUnlocks.clear();
    for (auto& unlock : unlocks) {
        if (auto verification = unlock.lock())
            verification->cancel();
    }
}

void TouchId::endInlinePrompt()
{
    auto context = std::move(m_inlineCtx);
    m_inlineCtx = nullptr;
    if (m_inlineViewShown) {
        if (auto view = m_inlineView.lock())
            view->hide();
        m_inlineViewShown = false;
    }
    if (context && context->verification)
        context->verification->cancel();
}

}
