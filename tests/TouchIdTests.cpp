#include "common/Base64.h"
#include "secrets/InlineFrame.h"
#include "secrets/KeyringDeviceKeyStore.h"
#include "secrets/Secrets.h"

#include "doubles/CommandHarness.h"
#include "doubles/SecretDoubles.h"

#include <gtest/gtest.h>

#include <list>

namespace quillpost {
namespace {

using namespace std::chrono_literals;
using Outcome = Fingerprint::Outcome;
using Answers = std::vector<Json>;

Json rect(double x, double y, double w, double h)
{
    return Json { { "x", x }, { "y", y }, { "w", w }, { "h", h } };
}

// What the page is told in place of a passphrase.
Json flag(const char* name)
{
    return Json { { name, true } };
}

const Json cancelled = flag("cancelled");
const Json unsupported = flag("unsupported");
const Json smallRect = rect(0, 0, 50, 50);

std::pair<std::string, std::string> item(const std::string& account)
{
    return { TouchId::keychainService, account };
}

class TouchIdTest : public testing::Test {
protected:
    TouchIdTest() { m_touchId.setInlineView(m_view); }

    // The answers the page gets for a check it starts, kept until the test ends.
    Answers& inlineCheck(const Json& where = smallRect)
    {
        auto& answers = m_answers.emplace_back();
        m_touchId.touchInline("passphrase", where, [&answers](Json answer) { answers.push_back(std::move(answer)); });
        return answers;
    }
    Answers& unlockCheck(const std::string& base = "passphrase")
    {
        auto& answers = m_answers.emplace_back();
        m_touchId.touchUnlock(base, "unlock your client data", [&answers](Json answer) { answers.push_back(std::move(answer)); });
        return answers;
    }
    Json unlock(const std::string& base, Outcome outcome)
    {
        auto& answers = unlockCheck(base);
        if (m_fingerprint.waiting())
            m_fingerprint.answer(outcome);
        EXPECT_EQ(answers.size(), 1u);
        return answers.empty() ? Json("no answer") : answers.front();
    }

    FakeKeyring m_keyring;
    FakeFingerprint m_fingerprint;
    KeyringDeviceKeyStore m_deviceKeys { m_keyring };
    VirtualClock m_clock;
    Sealer m_sealer { m_deviceKeys, m_fingerprint };
    TouchId m_touchId { m_keyring, m_fingerprint, m_sealer, m_clock };
    std::shared_ptr<FakeInlinePromptView> m_view = std::make_shared<FakeInlinePromptView>();
    std::list<Answers> m_answers;
};

TEST_F(TouchIdTest, SavedPassphrasesComeBackForAFinger)
{
    EXPECT_FALSE(m_touchId.touchEnabled("passphrase"));
    ASSERT_TRUE(m_touchId.touchSave("first", "passphrase"));
    ASSERT_TRUE(m_touchId.touchSave("second", "passphrase"));
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));

    EXPECT_EQ(unlock("passphrase", Outcome::Verified), "second");
    EXPECT_EQ(unlock("passphrase", Outcome::Cancelled), cancelled);
    EXPECT_EQ(unlock("passphrase", Outcome::Lockout), flag("lockout"));
    EXPECT_EQ(unlock("passphrase", Outcome::Failed), Json());
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));

    // The two accounts are independent.
    ASSERT_TRUE(m_touchId.touchSave("vault secret", "vault"));
    m_touchId.touchClear("vault");
    EXPECT_FALSE(m_touchId.touchEnabled("vault"));
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), "second");

    // Clearing forgets the sealed item and a plain one of an earlier version, without a prompt.
    m_keyring.items[item("passphrase")] = "legacy";
    m_fingerprint.checks.clear();
    m_touchId.touchClear("passphrase");
    EXPECT_EQ(m_keyring.items.size(), 1u) << "the device key alone";
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), Json());
    EXPECT_TRUE(m_fingerprint.checks.empty());
}

TEST_F(TouchIdTest, SavingNothingOrWithoutAReaderChangesNothing)
{
    ASSERT_TRUE(m_touchId.touchSave("kept", "passphrase"));
    auto before = m_keyring.items;
    EXPECT_FALSE(m_touchId.touchSave("", "passphrase"));
    m_fingerprint.state.reset();
    EXPECT_FALSE(m_touchId.touchSave("new", "passphrase"));
    m_keyring.byAccount[KeyringDeviceKeyStore::account] = FakeKeyring::Status::Locked;
    EXPECT_FALSE(m_touchId.touchSave("new", "passphrase"));
    EXPECT_EQ(m_keyring.items, before);
    m_keyring.items.clear();
    m_keyring.refuseWrites = true;
    EXPECT_FALSE(m_touchId.touchSave("secret", "vault"));
    EXPECT_FALSE(m_touchId.touchEnabled("vault")) << "a failed write reads as not enabled";

    EXPECT_FALSE(m_touchId.availability().available);
    EXPECT_FALSE(m_touchId.availability().reason.empty());
    m_keyring.byAccount.clear();
    m_fingerprint.reader = false;
    EXPECT_EQ(m_touchId.availability().reason, "There is no fingerprint reader.");
}

TEST_F(TouchIdTest, ChangedFingersDeleteTheItemsOnlyWhenProven)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    m_fingerprint.state = "right-index-finger, left-thumb";
    // Without the device key nothing proves the record dead: it stays.
    m_keyring.byAccount[KeyringDeviceKeyStore::account] = FakeKeyring::Status::Locked;
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), flag("unreadable"));
    m_keyring.byAccount.clear();
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), flag("fingersChanged"));
    EXPECT_FALSE(m_touchId.touchEnabled("passphrase"));
    EXPECT_EQ(m_keyring.items.size(), 1u) << "the device key alone";

    // A record that does not open with the same fingers is unreadable, and stays.
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    m_keyring.items[item("passphrase-se")] = base64Encode(R"({"key":"","eph":"","box":""})");
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), flag("unreadable"));
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));
    // Without a saved state there is nothing to prove a change with.
    m_keyring.remove(TouchId::keychainService, "passphrase-fingers");
    m_fingerprint.state = "another finger";
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), flag("unreadable"));
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));
}

TEST_F(TouchIdTest, LegacyPassphrasesMigrateOnTheirFirstUnlock)
{
    const auto fingers = base64Encode("right-index-finger");
    m_keyring.items = { { item("vault"), "plain old" }, { item("vault-fingers"), fingers } };
    EXPECT_TRUE(m_touchId.touchEnabled("vault"));
    // A failed check on this path answers null, whatever the reason.
    EXPECT_EQ(unlock("vault", Outcome::Cancelled), Json());
    EXPECT_TRUE(m_keyring.items.contains(item("vault")));

    EXPECT_EQ(unlock("vault", Outcome::Verified), "plain old");
    EXPECT_FALSE(m_keyring.items.contains(item("vault")));
    EXPECT_TRUE(m_keyring.items.contains(item("vault-se")));
    EXPECT_EQ(unlock("vault", Outcome::Verified), "plain old");

    m_keyring.items = { { item("vault"), "plain old" }, { item("vault-fingers"), base64Encode("someone else's finger") } };
    EXPECT_EQ(unlock("vault", Outcome::Verified), flag("fingersChanged"));
    EXPECT_TRUE(m_keyring.items.empty());

    // Sealing that fails leaves the plain item for the next time.
    m_keyring.items = { { item("vault"), "plain old" } };
    m_keyring.byAccount[KeyringDeviceKeyStore::account] = FakeKeyring::Status::Locked;
    EXPECT_EQ(unlock("vault", Outcome::Verified), "plain old");
    EXPECT_EQ(m_keyring.items.size(), 1u);
}

TEST_F(TouchIdTest, ASealedItemThatCantBeReadIsLeftAlone)
{
    for (auto failure : { FakeKeyring::Status::Locked, FakeKeyring::Status::Unavailable }) {
        m_keyring.items.clear();
        m_keyring.byAccount.clear();
        ASSERT_TRUE(m_touchId.touchSave("sealed", "passphrase"));
        // A plain item of an earlier version beside it must not be migrated over the sealed one.
        m_keyring.items[item("passphrase")] = "plain old";
        const auto before = m_keyring.items;
        const auto writes = m_keyring.writes;
        m_keyring.byAccount["passphrase-se"] = failure;

        EXPECT_EQ(unlock("passphrase", Outcome::Verified), Json());
        EXPECT_TRUE(m_fingerprint.checks.empty()) << "no fingerprint check for a record that can't be read";
        EXPECT_EQ(inlineCheck(), Answers { unsupported });
        EXPECT_EQ(m_view->shows, 0);
        EXPECT_EQ(m_keyring.items, before);
        EXPECT_EQ(m_keyring.writes, writes);
    }
}

TEST_F(TouchIdTest, TheInlinePromptShowsWhereThePageAsksUntilReplacedOrCancelled)
{
    EXPECT_EQ(inlineCheck(rect(10, 20, 50, 50)), Answers { unsupported }) << "nothing saved yet";
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    for (auto given : { rect(10, 20, 0, 50), Json { { "x", 10 }, { "y", 20 }, { "w", 50 } }, Json::object() })
        EXPECT_EQ(inlineCheck(given), Answers { unsupported }) << given.dump();
    EXPECT_EQ(m_view->shows, 0);
    EXPECT_TRUE(m_fingerprint.checks.empty());

    m_view->zoom = 1.25;
    auto& answers = inlineCheck(rect(100, 200, 88, 200));
    ASSERT_TRUE(m_view->shown);
    EXPECT_EQ(m_view->controlSize, InlinePromptView::ControlSize::Large);
    EXPECT_DOUBLE_EQ(m_view->shown->x, 125);
    EXPECT_DOUBLE_EQ(m_view->shown->width, 110);
    m_touchId.inlineMove(rect(0, 0, 40, 40));
    EXPECT_DOUBLE_EQ(m_view->shown->width, 50);
    m_fingerprint.answer(Outcome::Verified);
    EXPECT_EQ(answers, Answers { "secret" });
    EXPECT_FALSE(m_view->shown);
    EXPECT_FALSE(m_touchId.inlineShown());
    m_touchId.inlineMove(rect(0, 0, 40, 40));
    EXPECT_EQ(m_view->moves, 1) << "moving with nothing shown does nothing";

    // A new prompt cancels the one before; a cancel ends the last.
    auto& first = inlineCheck();
    auto& second = inlineCheck();
    EXPECT_EQ(first, Answers { cancelled });
    EXPECT_TRUE(second.empty());
    EXPECT_TRUE(m_view->shown);
    m_touchId.inlineCancel();
    EXPECT_EQ(second, Answers { cancelled });
    EXPECT_FALSE(m_view->shown);
    EXPECT_FALSE(m_touchId.inlineShown());

    // A lockout in the inline prompt reaches the page as one.
    auto& third = inlineCheck();
    m_fingerprint.answer(Outcome::Lockout);
    EXPECT_EQ(third, Answers { flag("lockout") });
    EXPECT_FALSE(m_view->shown);

    // Without a view (the window is gone) there is no prompt.
    m_view.reset();
    EXPECT_EQ(inlineCheck(), Answers { unsupported });
}

TEST_F(TouchIdTest, ACheckLetsGoOfTheReaderAfterTheTimeLimit)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    // Both ways a reader can take a cancel: at once, or once it has given the reader back.
    for (bool later : { false, true }) {
        SCOPED_TRACE(later ? "answered after the release" : "answered at once");
        m_fingerprint.answersCancelLater = later;
        auto& answers = inlineCheck();
        m_clock.advance(FingerprintChecks::timeLimit - 1ms);
        EXPECT_FALSE(m_fingerprint.checks.back()->cancelled);
        m_clock.advance(1ms);
        EXPECT_TRUE(m_fingerprint.checks.back()->cancelled);
        if (later)
            m_fingerprint.answer(Outcome::Cancelled);
        EXPECT_EQ(answers, Answers { cancelled });
        EXPECT_FALSE(m_view->shown) << "the mark goes with the check";
        EXPECT_EQ(m_touchId.checks().pending(), 0u);
        EXPECT_EQ(m_clock.pendingTimers(), 0u);
    }

    // An answer in time stops the clock.
    m_fingerprint.answersCancelLater = false;
    Answers answers;
    for (int check = 0; check < 2; ++check)
        m_touchId.touchUnlock("passphrase", "unlock your client data", [&](Json answer) { answers.push_back(answer); });
    m_fingerprint.answer(Outcome::Failed);
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
    EXPECT_EQ(answers, (Answers { cancelled, Json() })) << "the check behind it is cancelled first";
}

TEST_F(TouchIdTest, AnAnswerCancelsTheChecksWaitingBehindIt)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    ASSERT_TRUE(m_touchId.touchSave("vault secret", "vault"));
    m_fingerprint.answersCancelLater = true;
    for (const auto& [first, firstAnswer] : { std::pair { Outcome::Verified, Json("secret") },
             std::pair { Outcome::Lockout, flag("lockout") }, std::pair { Outcome::Failed, Json() } }) {
        SCOPED_TRACE(firstAnswer.dump());
        m_fingerprint.checks.clear();
        // The lock screen's check, the unlock button's and the vault's, all waiting on the reader.
        auto& shown = inlineCheck();
        auto& button = unlockCheck();
        auto& vault = unlockCheck("vault");
        ASSERT_EQ(m_fingerprint.waiting(), 3u);
        m_fingerprint.answer(first);
        EXPECT_EQ(shown, Answers { firstAnswer });
        EXPECT_TRUE(m_fingerprint.checks[1]->cancelled && m_fingerprint.checks[2]->cancelled);
        // The reader answers each cancelled check as it lets go of it.
        m_fingerprint.answer(Outcome::Cancelled);
        m_fingerprint.answer(Outcome::Cancelled);
        EXPECT_EQ(button, Answers { cancelled });
        EXPECT_EQ(vault, Answers { cancelled });
        EXPECT_EQ(m_touchId.checks().pending(), 0u);
        EXPECT_EQ(m_clock.pendingTimers(), 0u);
    }

    // A cancel is no answer: a prompt replaced by a new one leaves the other checks waiting.
    m_fingerprint.answersCancelLater = false;
    auto& vault = unlockCheck("vault");
    inlineCheck();
    auto& second = inlineCheck();
    EXPECT_TRUE(vault.empty());
    EXPECT_EQ(m_fingerprint.waiting(), 2u);
    m_fingerprint.answer(Outcome::Verified);
    EXPECT_EQ(vault, Answers { "vault secret" });
    EXPECT_EQ(second, Answers { cancelled });

    // The lock screen takes its checks with it, and only its own.
    m_fingerprint.checks.clear();
    auto& shown = inlineCheck();
    auto& button = unlockCheck();
    auto& vaultUnlock = unlockCheck("vault");
    m_touchId.inlineCancel();
    EXPECT_EQ(shown, Answers { cancelled });
    EXPECT_EQ(button, Answers { cancelled });
    EXPECT_TRUE(vaultUnlock.empty()) << "the vault's unlock is not the lock screen's";
    EXPECT_FALSE(m_fingerprint.checks[2]->cancelled);
}

TEST_F(TouchIdTest, ADesktopLockLetsGoOfTheReaderUntilTheWindowIsBack)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    struct Case {
        const char* name;
        // The window's focus at each look, one a second.
        std::vector<bool> focus;
        std::chrono::milliseconds heldFor;
    };
    const Case cases[] = {
        { "the lock screen took the focus and gave it back", { true, false, false, true }, 4s },
        { "the window had lost its focus before", { false, true }, 2s },
        { "no lock screen came up", { true, true, true, true, true }, FingerprintChecks::pauseWithoutLockScreen },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        m_fingerprint.checks.clear();
        auto& before = unlockCheck();
        size_t looks = 0;
        m_touchId.pauseChecks([&] { return test.focus.at(std::min(looks++, test.focus.size() - 1)); });
        EXPECT_EQ(before, Answers { cancelled });

        // The page locks itself and asks again at once: the mark shows, the reader stays free.
        auto& after = inlineCheck();
        EXPECT_TRUE(m_view->shown);
        m_clock.advance(test.heldFor - 1ms);
        EXPECT_EQ(m_fingerprint.checks.size(), 1u) << "no claim while the desktop is locked";
        m_clock.advance(1ms);
        ASSERT_EQ(m_fingerprint.checks.size(), 2u);
        EXPECT_EQ(looks, test.focus.size());
        EXPECT_FALSE(m_touchId.checks().paused());
        // The time limit counts from the claim.
        m_clock.advance(FingerprintChecks::timeLimit - 1ms);
        m_fingerprint.answer(Outcome::Verified);
        EXPECT_EQ(after, Answers { "secret" });
        EXPECT_EQ(m_clock.pendingTimers(), 0u);
    }

    // A check held through the lock and then given up never reaches the reader.
    m_fingerprint.checks.clear();
    m_touchId.pauseChecks([] { return false; });
    auto& held = inlineCheck();
    m_touchId.inlineCancel();
    EXPECT_EQ(held, Answers { cancelled });
    EXPECT_TRUE(m_fingerprint.checks.empty());
    EXPECT_EQ(m_touchId.checks().pending(), 0u);
}

TEST(InlineFrame, ConvertsThePagesRectangle)
{
    auto flipped = inlineFrame(rect(10, 20, 30, 40), 2, true, 800);
    auto upward = inlineFrame(rect(10, 20, 30, 40), 2, false, 800);
    ASSERT_TRUE(flipped && upward);
    EXPECT_DOUBLE_EQ(flipped->y, 40);
    EXPECT_DOUBLE_EQ(upward->y, 800 - 60 * 2);
    EXPECT_DOUBLE_EQ(upward->height, 80);
    for (const Json& refused : { rect(1e308, 0, 1, 1), rect(0, 0, -1, 1), Json { { "x", "10" }, { "y", 0 }, { "w", 1 }, { "h", 1 } },
             Json::array({ 1, 2, 3, 4 }) })
        EXPECT_FALSE(inlineFrame(refused, 2, true, 800)) << refused.dump();

    using enum InlinePromptView::ControlSize;
    const std::pair<ViewFrame, InlinePromptView::ControlSize> sizes[] = {
        { { 0, 0, 59.9, 300 }, Small }, { { 0, 0, 60, 60 }, Regular }, { { 0, 0, 39, 39 }, Mini }, { { 0, 0, 40, 88 }, Small }
    };
    for (const auto& [frame, size] : sizes)
        EXPECT_EQ(controlSizeFor(frame), size) << frame.width;
}

TEST(SecretClipboard, ACopiedSecretIsMarkedAndWipedAfterItsTimeUnlessSomethingWasCopiedSince)
{
    FakeClipboard clipboard;
    VirtualClock clock;
    SecretClipboard secrets { clipboard, clock };
    EXPECT_TRUE(secrets.copySecret("hunter2", 1));
    const std::map<std::string, std::string> markers { { "org.nspasteboard.ConcealedType", "" },
        { "x-kde-passwordManagerHint", "secret" } };
    EXPECT_EQ(clipboard.markers, markers);
    clock.advance(999ms);
    EXPECT_EQ(clipboard.text, "hunter2");
    clock.advance(1ms);
    EXPECT_FALSE(clipboard.text);

    secrets.copySecret("hunter2", 1);
    clipboard.writeText("a note"); // another program copies something
    clock.advance(5s);
    EXPECT_EQ(clipboard.text, "a note");

    // Of two copies, only the newer one's wipe still matches.
    secrets.copySecret("first", 10);
    secrets.copySecret("second", 30);
    clock.advance(10s);
    EXPECT_EQ(clipboard.text, "second");
    clock.advance(20s);
    EXPECT_FALSE(clipboard.text);

    // Odd times neither overflow nor linger.
    secrets.copySecret("now", -5);
    clock.advance(0ms);
    EXPECT_FALSE(clipboard.text);
    secrets.copySecret("later", 1e300);
    clock.advance(std::chrono::hours(24));
    EXPECT_FALSE(clipboard.text);
}

// The secret and fingerprint commands over doubles of the platform and the real device key store.
// What each rule does is checked beside the code; here only that each command reaches it.
TEST(SecretCommands, EachCommandReachesItsAccountAndTheProbesAnswerOnlyInASelfTest)
{
    VirtualClock clock;
    FakeKeyring keyring;
    FakeFingerprint fingerprint;
    KeyringDeviceKeyStore deviceKeys { keyring };
    FakeClipboard clipboard;
    Secrets secrets { { keyring, fingerprint, deviceKeys, clipboard, clock } };
    CommandHarness normal { true, [&](Bridge::Services& services) { services.secrets = &secrets; } };
    CommandHarness selfTest { true, [&](Bridge::Services& services) {
                                 services.secrets = &secrets;
                                 services.selfTest = true;
                             } };
    auto result = [&](const std::string& cmd, const Json& args = Json::array(), bool probe = false) {
        auto answer = (probe ? selfTest : normal).send(cmd, args);
        if (fingerprint.waiting())
            fingerprint.answer(Fingerprint::Outcome::Verified);
        return answer->error ? Json(*answer->error) : answer->json();
    };

    EXPECT_EQ(result("copySecret", Json::array({ "pw" })), true);
    clock.advance(29s);
    EXPECT_EQ(clipboard.text, "pw");
    clock.advance(1s);
    EXPECT_FALSE(clipboard.text) << "thirty seconds unless told";
    EXPECT_EQ(result("copySecret", Json::array({ 42, "2" })), true);
    EXPECT_EQ(clipboard.text, "");
    EXPECT_EQ(clock.pendingTimers(), 1u);
    for (auto cmd : { "clipText", "clipSet", "clipConcealed", "seSelfTest" })
        EXPECT_EQ(result(cmd), std::string("Unknown command ") + cmd);
    EXPECT_EQ(result("clipSet", Json::array({ "plain" }), true), true);
    EXPECT_EQ(result("clipText", Json::array(), true), "plain");
    EXPECT_EQ(result("clipConcealed", Json::array(), true), false);
    result("copySecret", Json::array({ "pw", 1 }));
    EXPECT_EQ(result("clipConcealed", Json::array(), true), true);

    // Asking makes no device key: not the self-test, not an unlock with nothing saved.
    const Json passed { { "available", true }, { "roundTrip", true }, { "noPlaintext", true }, { "tamperRejected", true },
        { "otherKeyRejected", true } };
    EXPECT_EQ(result("seSelfTest", Json::array(), true), passed);
    EXPECT_EQ(result("touchIdUnlock"), Json());
    EXPECT_EQ(keyring.writes, 0);
    const struct {
        const char* cmd;
        Json args;
        Json result;
    } steps[] = {
        { "touchIdStatus", Json::array(), Json { { "available", true }, { "reason", "" } } },
        { "touchIdSave", Json::array({ "data pass" }), true },
        { "vaultTouchSave", Json::array({ Json::object() }), false },
        { "vaultTouchEnabled", Json::array(), false },
        { "touchIdEnabled", Json::array(), true },
        { "touchIdAvailable", Json::array(), true },
        { "vaultTouchUnlock", Json::array(), nullptr },
        { "touchIdInline", Json::array({ "not a rectangle" }), Json { { "unsupported", true } } },
        { "touchIdUnlock", Json::array(), "data pass" },
        { "touchIdClear", Json::array(), true },
        { "touchIdEnabled", Json::array(), false },
    };
    for (const auto& step : steps)
        EXPECT_EQ(result(step.cmd, step.args), step.result) << step.cmd;
    EXPECT_EQ(fingerprint.checks.back()->reason, "unlock your client data");
    keyring.answer = Keyring::Lookup::Status::Locked;
    EXPECT_EQ(result("touchIdStatus")["available"], false);
}

}
}
