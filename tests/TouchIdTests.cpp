#include "common/Base64.h"
#include "secrets/InlineFrame.h"
#include "secrets/Sealer.h"
#include "secrets/TouchId.h"

#include "doubles/SecretDoubles.h"
#include "doubles/VirtualClock.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using namespace std::chrono_literals;
using Outcome = Fingerprint::Outcome;
using Answers = std::vector<Json>;

Json rect(double x, double y, double w, double h)
{
    return Json { { "x", x }, { "y", y }, { "w", w }, { "h", h } };
}

const Json cancelled { { "cancelled", true } };
const Json unsupported { { "unsupported", true } };
const Json lockout { { "lockout", true } };
const Json unreadable { { "unreadable", true } };
const Json fingersChanged { { "fingersChanged", true } };
const Json smallRect = rect(0, 0, 50, 50);

TouchId::Answer into(Answers& answers)
{
    return [&answers](Json answer) { answers.push_back(std::move(answer)); };
}

std::pair<std::string, std::string> item(const std::string& account)
{
    return { TouchId::keychainService, account };
}

class TouchIdTest : public testing::Test {
protected:
    TouchIdTest() { m_touchId.setInlineView(m_view); }

    Json unlock(const std::string& base, Outcome outcome)
    {
        Answers answers;
        m_touchId.touchUnlock(base, "unlock your client data", into(answers));
        if (m_fingerprint.waiting())
            m_fingerprint.answer(outcome);
        EXPECT_EQ(answers.size(), 1u);
        return answers.empty() ? Json("no answer") : answers.front();
    }

    // The lock screen's check, the unlock button's and the vault's, all waiting on the reader.
    void startThreeChecks(Answers& inlineCheck, Answers& button, Answers& vault)
    {
        m_touchId.touchInline("passphrase", smallRect, into(inlineCheck));
        m_touchId.touchUnlock("passphrase", "unlock your client data", into(button));
        m_touchId.touchUnlock("vault", "open the client account vault", into(vault));
    }

    FakeKeyring m_keyring;
    FakeFingerprint m_fingerprint;
    FakeDeviceKeyStore m_deviceKeys;
    VirtualClock m_clock;
    Sealer m_sealer { m_deviceKeys, m_fingerprint };
    TouchId m_touchId { m_keyring, m_fingerprint, m_sealer, m_clock };
    std::shared_ptr<FakeInlinePromptView> m_view = std::make_shared<FakeInlinePromptView>();
};

TEST_F(TouchIdTest, SavedPassphrasesComeBackForAFinger)
{
    EXPECT_FALSE(m_touchId.touchEnabled("passphrase"));
    ASSERT_TRUE(m_touchId.touchSave("first", "passphrase"));
    ASSERT_TRUE(m_touchId.touchSave("second", "passphrase"));
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));

    EXPECT_EQ(unlock("passphrase", Outcome::Verified), "second");
    EXPECT_EQ(m_fingerprint.checks.back()->reason, "unlock your client data");
    EXPECT_EQ(unlock("passphrase", Outcome::Cancelled), cancelled);
    EXPECT_EQ(unlock("passphrase", Outcome::Lockout), lockout);
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
    EXPECT_TRUE(m_keyring.items.empty());
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
    m_deviceKeys.isAvailable = false;
    EXPECT_FALSE(m_touchId.touchSave("new", "passphrase"));
    EXPECT_EQ(m_keyring.items, before);
    m_keyring.items.clear();
    m_keyring.refuseWrites = true;
    EXPECT_FALSE(m_touchId.touchSave("secret", "vault"));
    EXPECT_FALSE(m_touchId.touchEnabled("vault")) << "a failed write reads as not enabled";

    EXPECT_FALSE(m_touchId.availability().available);
    EXPECT_FALSE(m_touchId.availability().reason.empty());
    m_deviceKeys.isAvailable = true;
    m_fingerprint.reader = false;
    EXPECT_EQ(m_touchId.availability().reason, "There is no fingerprint reader.");
}

TEST_F(TouchIdTest, ChangedFingersDeleteTheItemsOnlyWhenProven)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    m_fingerprint.state = "right-index-finger, left-thumb";
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), fingersChanged);
    EXPECT_FALSE(m_touchId.touchEnabled("passphrase"));
    EXPECT_TRUE(m_keyring.items.empty());

    // A record that does not open with the same fingers is unreadable, and stays.
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    m_keyring.items[item("passphrase-se")] = base64Encode(R"({"key":"","eph":"","box":""})");
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), unreadable);
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));
    // Without a saved state there is nothing to prove a change with.
    m_keyring.remove(TouchId::keychainService, "passphrase-fingers");
    m_fingerprint.state = "another finger";
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), unreadable);
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
    EXPECT_EQ(unlock("vault", Outcome::Verified), fingersChanged);
    EXPECT_TRUE(m_keyring.items.empty());

    // Sealing that fails leaves the plain item for the next time.
    m_keyring.items = { { item("vault"), "plain old" } };
    m_deviceKeys.isAvailable = false;
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
        const auto changes = m_keyring.writes + m_keyring.removes;
        m_keyring.byAccount["passphrase-se"] = failure;

        EXPECT_EQ(unlock("passphrase", Outcome::Verified), Json());
        EXPECT_TRUE(m_fingerprint.checks.empty()) << "no fingerprint check for a record that can't be read";
        Answers inlineAnswers;
        m_touchId.touchInline("passphrase", smallRect, into(inlineAnswers));
        EXPECT_EQ(inlineAnswers, Answers { unsupported });
        EXPECT_EQ(m_view->shows, 0);
        EXPECT_EQ(m_keyring.items, before);
        EXPECT_EQ(m_keyring.writes + m_keyring.removes, changes);
    }
}

TEST_F(TouchIdTest, TheInlinePromptShowsWhereThePageAsksUntilReplacedOrCancelled)
{
    Answers answers;
    m_touchId.touchInline("passphrase", rect(10, 20, 50, 50), into(answers));
    EXPECT_EQ(answers, Answers { unsupported }) << "nothing saved yet";

    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    for (auto given : { rect(10, 20, 0, 50), Json { { "x", 10 }, { "y", 20 }, { "w", 50 } }, Json::object() }) {
        answers.clear();
        m_touchId.touchInline("passphrase", given, into(answers));
        EXPECT_EQ(answers, Answers { unsupported }) << given.dump();
    }
    EXPECT_EQ(m_view->shows, 0);
    EXPECT_TRUE(m_fingerprint.checks.empty());

    m_view->zoom = 1.25;
    answers.clear();
    m_touchId.touchInline("passphrase", rect(100, 200, 88, 200), into(answers));
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
    Answers first;
    Answers second;
    m_touchId.touchInline("passphrase", smallRect, into(first));
    m_touchId.touchInline("passphrase", smallRect, into(second));
    EXPECT_EQ(first, Answers { cancelled });
    EXPECT_TRUE(second.empty());
    EXPECT_TRUE(m_view->shown);
    m_touchId.inlineCancel();
    EXPECT_EQ(second, Answers { cancelled });
    EXPECT_FALSE(m_view->shown);
    EXPECT_FALSE(m_touchId.inlineShown());

    // A lockout in the inline prompt reaches the page as one.
    Answers third;
    m_touchId.touchInline("passphrase", smallRect, into(third));
    m_fingerprint.answer(Outcome::Lockout);
    EXPECT_EQ(third, Answers { lockout });
    EXPECT_FALSE(m_view->shown);

    // Without a view (the window is gone) there is no prompt.
    m_view.reset();
    Answers fourth;
    m_touchId.touchInline("passphrase", smallRect, into(fourth));
    EXPECT_EQ(fourth, Answers { unsupported });
}

TEST_F(TouchIdTest, ACheckLetsGoOfTheReaderAfterTheTimeLimit)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    // Both ways a reader can take a cancel: at once, or once it has given the reader back.
    for (bool later : { false, true }) {
        SCOPED_TRACE(later ? "answered after the release" : "answered at once");
        m_fingerprint.answersCancelLater = later;
        Answers answers;
        m_touchId.touchInline("passphrase", smallRect, into(answers));
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
    m_touchId.touchUnlock("passphrase", "unlock your client data", into(answers));
    m_touchId.touchUnlock("passphrase", "unlock your client data", into(answers));
    m_fingerprint.answer(Outcome::Failed);
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
    EXPECT_EQ(answers, (Answers { cancelled, Json() })) << "the check behind it is cancelled first";
}

TEST_F(TouchIdTest, AnAnswerCancelsTheChecksWaitingBehindIt)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    ASSERT_TRUE(m_touchId.touchSave("vault secret", "vault"));
    m_fingerprint.answersCancelLater = true;
    for (const auto& [first, firstAnswer] : { std::pair { Outcome::Verified, Json("secret") }, std::pair { Outcome::Lockout, lockout },
             std::pair { Outcome::Failed, Json() } }) {
        SCOPED_TRACE(firstAnswer.dump());
        m_fingerprint.checks.clear();
        Answers shown, button, vault;
        startThreeChecks(shown, button, vault);
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
    Answers first, second, vault;
    m_touchId.touchUnlock("vault", "open the client account vault", into(vault));
    m_touchId.touchInline("passphrase", smallRect, into(first));
    m_touchId.touchInline("passphrase", smallRect, into(second));
    EXPECT_TRUE(vault.empty());
    EXPECT_EQ(m_fingerprint.waiting(), 2u);
    m_fingerprint.answer(Outcome::Verified);
    EXPECT_EQ(vault, Answers { "vault secret" });
    EXPECT_EQ(second, Answers { cancelled });

    // The lock screen takes its checks with it, and only its own.
    m_fingerprint.checks.clear();
    Answers shown, button, vaultUnlock;
    startThreeChecks(shown, button, vaultUnlock);
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
        Answers before;
        m_touchId.touchUnlock("passphrase", "unlock your client data", into(before));
        size_t looks = 0;
        m_touchId.pauseChecks([&] { return test.focus.at(std::min(looks++, test.focus.size() - 1)); });
        EXPECT_EQ(before, Answers { cancelled });

        // The page locks itself and asks again at once: the mark shows, the reader stays free.
        Answers after;
        m_touchId.touchInline("passphrase", smallRect, into(after));
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
    Answers held;
    m_touchId.touchInline("passphrase", smallRect, into(held));
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

}
}
