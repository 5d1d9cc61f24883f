#include "common/Base64.h"
#include "secrets/InlineFrame.h"
#include "secrets/Sealer.h"
#include "secrets/TouchId.h"

#include "doubles/SecretDoubles.h"
#include "doubles/VirtualClock.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using Outcome = Fingerprint::Outcome;

Json rect(double x, double y, double w, double h)
{
    return Json { { "x", x }, { "y", y }, { "w", w }, { "h", h } };
}

const Json cancelled { { "cancelled", true } };
const Json unsupported { { "unsupported", true } };
const Json smallRect = rect(0, 0, 50, 50);

struct Answers {
    std::vector<Json> received;
    TouchId::Answer collect()
    {
        return [this](Json answer) { received.push_back(std::move(answer)); };
    }
};

class TouchIdTest : public testing::Test {
protected:
    TouchIdTest()
    {
        m_touchId.setInlineView(m_view);
    }

    Json unlock(const std::string& base, Outcome outcome)
    {
        Answers answers;
        m_touchId.touchUnlock(base, "unlock your client data", answers.collect());
        if (m_fingerprint.waiting())
            m_fingerprint.answer(outcome);
        EXPECT_EQ(answers.received.size(), 1u);
        return answers.received.empty() ? Json("no answer") : answers.received.front();
    }

    // The lock screen's check, the unlock button's and the vault's, all waiting on the reader.
    void startThreeChecks(Answers& inlineCheck, Answers& button, Answers& vault)
    {
        m_touchId.touchInline("passphrase", smallRect, inlineCheck.collect());
        m_touchId.touchUnlock("passphrase", "unlock your client data", button.collect());
        m_touchId.touchUnlock("vault", "open the client account vault", vault.collect());
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
    // One sealed item, in the form described: Base64 of the record; the fingers' state beside it.
    EXPECT_EQ(m_keyring.items.size(), 2u);
    auto record = base64Decode(m_keyring.items.at({ "Quillpost Touch ID", "passphrase-se" }));
    ASSERT_TRUE(record && SealedRecord::parse(*record));
    EXPECT_EQ(record->find("second"), std::string::npos);
    EXPECT_EQ(m_keyring.items.at({ "Quillpost Touch ID", "passphrase-fingers" }), base64Encode("right-index-finger"));

    EXPECT_EQ(unlock("passphrase", Outcome::Verified), "second");
    EXPECT_EQ(m_fingerprint.checks.back()->reason, "unlock your client data");
    EXPECT_EQ(unlock("passphrase", Outcome::Cancelled), cancelled);
    EXPECT_EQ(unlock("passphrase", Outcome::Lockout), (Json { { "lockout", true } }));
    EXPECT_EQ(unlock("passphrase", Outcome::Failed), Json());
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));

    // The two accounts are independent.
    ASSERT_TRUE(m_touchId.touchSave("vault secret", "vault"));
    m_touchId.touchClear("vault");
    EXPECT_FALSE(m_touchId.touchEnabled("vault"));
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), "second");

    // Clearing forgets the sealed item and a plain one of an earlier version, without a prompt.
    m_keyring.items[{ "Quillpost Touch ID", "passphrase" }] = "legacy";
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
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), (Json { { "fingersChanged", true } }));
    EXPECT_FALSE(m_touchId.touchEnabled("passphrase"));
    EXPECT_TRUE(m_keyring.items.empty());

    // A record that does not open with the same fingers is unreadable, and stays.
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    m_keyring.items[{ "Quillpost Touch ID", "passphrase-se" }] = base64Encode(R"({"key":"","eph":"","box":""})");
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), (Json { { "unreadable", true } }));
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));
    // Without a saved state there is nothing to prove a change with.
    m_keyring.remove("Quillpost Touch ID", "passphrase-fingers");
    m_fingerprint.state = "another finger";
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), (Json { { "unreadable", true } }));
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));
}

TEST_F(TouchIdTest, LegacyPassphrasesMigrateOnTheirFirstUnlock)
{
    m_keyring.items[{ "Quillpost Touch ID", "vault" }] = "plain old";
    m_keyring.items[{ "Quillpost Touch ID", "vault-fingers" }] = base64Encode("right-index-finger");
    EXPECT_TRUE(m_touchId.touchEnabled("vault"));
    // A failed check on this path answers null, whatever the reason.
    EXPECT_EQ(unlock("vault", Outcome::Cancelled), Json());
    EXPECT_TRUE(m_keyring.has("vault"));

    EXPECT_EQ(unlock("vault", Outcome::Verified), "plain old");
    EXPECT_FALSE(m_keyring.has("vault"));
    EXPECT_TRUE(m_keyring.has("vault-se"));
    EXPECT_EQ(unlock("vault", Outcome::Verified), "plain old");

    m_keyring.items = { { { "Quillpost Touch ID", "vault" }, "plain old" }, { { "Quillpost Touch ID", "vault-fingers" }, base64Encode("someone else's finger") } };
    EXPECT_EQ(unlock("vault", Outcome::Verified), (Json { { "fingersChanged", true } }));
    EXPECT_TRUE(m_keyring.items.empty());

    // Sealing that fails leaves the plain item for the next time.
    m_keyring.items = { { { "Quillpost Touch ID", "vault" }, "plain old" } };
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
        m_keyring.items[{ "Quillpost Touch ID", "passphrase" }] = "plain old";
        const auto before = m_keyring.items;
        const auto writes = m_keyring.writes;
        const auto removes = m_keyring.removes;
        m_keyring.byAccount["passphrase-se"] = failure;

        EXPECT_EQ(unlock("passphrase", Outcome::Verified), Json());
        EXPECT_TRUE(m_fingerprint.checks.empty()) << "no fingerprint check for a record that can't be read";
        Answers inlineAnswers;
        m_touchId.touchInline("passphrase", smallRect, inlineAnswers.collect());
        EXPECT_EQ(inlineAnswers.received, std::vector<Json> { unsupported });
        EXPECT_EQ(m_view->shows, 0);
        EXPECT_EQ(m_keyring.items, before);
        EXPECT_EQ(m_keyring.writes, writes);
        EXPECT_EQ(m_keyring.removes, removes);
    }
}

TEST_F(TouchIdTest, TheInlinePromptShowsWhereThePageAsks)
{
    Answers answers;
    m_touchId.touchInline("passphrase", rect(10, 20, 50, 50), answers.collect());
    EXPECT_EQ(answers.received, std::vector<Json> { unsupported }) << "nothing saved yet";
    EXPECT_EQ(m_view->shows, 0);

    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    for (auto given : { rect(10, 20, 0, 50), Json { { "x", 10 }, { "y", 20 }, { "w", 50 } }, Json { { "x", "10" }, { "y", 20 }, { "w", 50 }, { "h", 50 } }, Json::object() }) {
        answers.received.clear();
        m_touchId.touchInline("passphrase", given, answers.collect());
        EXPECT_EQ(answers.received, std::vector<Json> { unsupported }) << given.dump();
    }
    EXPECT_EQ(m_view->shows, 0);
    EXPECT_TRUE(m_fingerprint.checks.empty());

    m_view->zoom = 1.25;
    answers.received.clear();
    m_touchId.touchInline("passphrase", rect(100, 200, 88, 200), answers.collect());
    ASSERT_TRUE(m_view->shown);
    EXPECT_EQ(m_view->controlSize, InlinePromptView::ControlSize::Large);
    EXPECT_DOUBLE_EQ(m_view->shown->x, 125);
    EXPECT_DOUBLE_EQ(m_view->shown->y, 250);
    EXPECT_DOUBLE_EQ(m_view->shown->width, 110);
    m_touchId.inlineMove(rect(0, 0, 40, 40));
    EXPECT_DOUBLE_EQ(m_view->shown->width, 50);
    m_fingerprint.answer(Outcome::Verified);
    EXPECT_EQ(answers.received, std::vector<Json> { Json("secret") });
    EXPECT_FALSE(m_view->shown);
    EXPECT_FALSE(m_touchId.inlineShown());

    // Moving with nothing shown does nothing.
    m_touchId.inlineMove(rect(0, 0, 40, 40));
    EXPECT_EQ(m_view->moves, 1);
}

TEST_F(TouchIdTest, ANewInlinePromptCancelsTheOneBefore)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    Answers first;
    Answers second;
        m_touchId.touchInline("passphrase", smallRect, first.collect());
    EXPECT_EQ(m_view->controlSize, InlinePromptView::ControlSize::Small);
    m_touchId.touchInline("passphrase", smallRect, second.collect());
    EXPECT_EQ(first.received, std::vector<Json> { cancelled });
    EXPECT_TRUE(second.received.empty());
    EXPECT_TRUE(m_view->shown);
    EXPECT_TRUE(m_fingerprint.checks.front()->cancelled);

    m_touchId.inlineCancel();
    EXPECT_EQ(second.received, std::vector<Json> { cancelled });
    EXPECT_FALSE(m_view->shown);
    EXPECT_FALSE(m_touchId.inlineShown());

    // A lockout in the inline prompt reaches the page as one.
    Answers third;
    m_touchId.touchInline("passphrase", smallRect, third.collect());
    m_fingerprint.answer(Outcome::Lockout);
    EXPECT_EQ(third.received, std::vector<Json> { (Json { { "lockout", true } }) });
    EXPECT_FALSE(m_view->shown);

    // Without a view (the window is gone) there is no prompt.
    m_view.reset();
    Answers fourth;
    m_touchId.touchInline("passphrase", smallRect, fourth.collect());
    EXPECT_EQ(fourth.received, std::vector<Json> { unsupported });
}

TEST_F(TouchIdTest, ACheckLetsGoOfTheReaderAfterTheTimeLimit)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    // Both ways a reader can take a cancel: at once, or once it has given the reader back.
    for (bool later : { false, true }) {
        SCOPED_TRACE(later ? "answered after the release" : "answered at once");
        m_fingerprint.answersCancelLater = later;
        Answers inlineAnswers;
        m_touchId.touchInline("passphrase", smallRect, inlineAnswers.collect());
        m_clock.advance(FingerprintChecks::timeLimit - std::chrono::milliseconds(1));
        EXPECT_TRUE(inlineAnswers.received.empty());
        EXPECT_FALSE(m_fingerprint.checks.back()->cancelled);
        m_clock.advance(std::chrono::milliseconds(1));
        EXPECT_TRUE(m_fingerprint.checks.back()->cancelled);
        if (later)
            m_fingerprint.answer(Outcome::Cancelled);
        EXPECT_EQ(inlineAnswers.received, std::vector<Json> { cancelled });
        EXPECT_FALSE(m_view->shown) << "the mark goes with the check";
        EXPECT_EQ(m_touchId.checks().pending(), 0u);
        EXPECT_EQ(m_clock.pendingTimers(), 0u);
    }

    // An answer in time stops the clock.
    m_fingerprint.answersCancelLater = false;
    Answers answers;
    m_touchId.touchUnlock("passphrase", "unlock your client data", answers.collect());
    m_touchId.touchUnlock("passphrase", "unlock your client data", answers.collect());
    m_fingerprint.answer(Outcome::Failed);
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
    EXPECT_EQ(answers.received, (std::vector<Json> { cancelled, Json() })) << "the check behind it is cancelled first";
}

TEST_F(TouchIdTest, AnAnswerCancelsTheChecksWaitingBehindIt)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    ASSERT_TRUE(m_touchId.touchSave("vault secret", "vault"));
    struct Case {
        const char* name;
        Outcome first;
        Json firstAnswer;
    };
    const Case cases[] = {
        { "a match", Outcome::Verified, "secret" },
        { "a lockout", Outcome::Lockout, Json { { "lockout", true } } },
        { "a failure", Outcome::Failed, Json() },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        m_fingerprint.checks.clear();
        m_fingerprint.answersCancelLater = true;
        Answers inlineAnswers;
        Answers button;
        Answers vault;
        startThreeChecks(inlineAnswers, button, vault);
        ASSERT_EQ(m_fingerprint.waiting(), 3u);

        m_fingerprint.answer(test.first);
        EXPECT_EQ(inlineAnswers.received, std::vector<Json> { test.firstAnswer });
        EXPECT_TRUE(m_fingerprint.checks[1]->cancelled);
        EXPECT_TRUE(m_fingerprint.checks[2]->cancelled);
        // The reader answers each cancelled check as it lets go of it.
        m_fingerprint.answer(Outcome::Cancelled);
        m_fingerprint.answer(Outcome::Cancelled);
        EXPECT_EQ(button.received, std::vector<Json> { cancelled });
        EXPECT_EQ(vault.received, std::vector<Json> { cancelled });
        EXPECT_EQ(m_touchId.checks().pending(), 0u);
        EXPECT_EQ(m_clock.pendingTimers(), 0u);
    }

    // A cancel is no answer: a prompt replaced by a new one leaves the other checks waiting.
    m_fingerprint.answersCancelLater = false;
    Answers first;
    Answers second;
    Answers vault;
    m_touchId.touchUnlock("vault", "open the client account vault", vault.collect());
    m_touchId.touchInline("passphrase", smallRect, first.collect());
    m_touchId.touchInline("passphrase", smallRect, second.collect());
    EXPECT_EQ(first.received, std::vector<Json> { cancelled });
    EXPECT_TRUE(vault.received.empty());
    EXPECT_EQ(m_fingerprint.waiting(), 2u);
    m_fingerprint.answer(Outcome::Verified);
    EXPECT_EQ(vault.received, std::vector<Json> { Json("vault secret") });
    EXPECT_EQ(second.received, std::vector<Json> { cancelled });

    // The lock screen takes its checks with it, and only its own.
    m_fingerprint.checks.clear();
    Answers shown;
    Answers unlockButton;
    Answers vaultUnlock;
    startThreeChecks(shown, unlockButton, vaultUnlock);
    m_touchId.inlineCancel();
    EXPECT_EQ(shown.received, std::vector<Json> { cancelled });
    EXPECT_EQ(unlockButton.received, std::vector<Json> { cancelled });
    EXPECT_TRUE(vaultUnlock.received.empty()) << "the vault's unlock is not the lock screen's";
    EXPECT_FALSE(m_fingerprint.checks[2]->cancelled);
    EXPECT_FALSE(m_view->shown);
}

TEST_F(TouchIdTest, ADesktopLockLetsGoOfTheReaderUntilTheWindowIsBack)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    using namespace std::chrono_literals;
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
        m_touchId.touchUnlock("passphrase", "unlock your client data", before.collect());
        size_t looks = 0;
        m_touchId.pauseChecks([&] { return test.focus.at(std::min(looks++, test.focus.size() - 1)); });
        EXPECT_EQ(before.received, std::vector<Json> { cancelled });
        EXPECT_TRUE(m_fingerprint.checks.front()->cancelled);

        // The page locks itself and asks again at once: the mark shows, the reader stays free.
        Answers after;
        m_touchId.touchInline("passphrase", smallRect, after.collect());
        EXPECT_TRUE(m_view->shown);
        m_clock.advance(test.heldFor - 1ms);
        EXPECT_EQ(m_fingerprint.checks.size(), 1u) << "no claim while the desktop is locked";
        m_clock.advance(1ms);
        ASSERT_EQ(m_fingerprint.checks.size(), 2u);
        EXPECT_EQ(looks, test.focus.size());
        EXPECT_FALSE(m_touchId.checks().paused());
        // The time limit counts from the claim.
        m_clock.advance(FingerprintChecks::timeLimit - 1ms);
        EXPECT_TRUE(after.received.empty());
        m_fingerprint.answer(Outcome::Verified);
        EXPECT_EQ(after.received, std::vector<Json> { Json("secret") });
        EXPECT_EQ(m_clock.pendingTimers(), 0u);
    }

    // A check held through the lock and then given up never reaches the reader.
    m_fingerprint.checks.clear();
    m_touchId.pauseChecks([] { return false; });
    Answers held;
    m_touchId.touchInline("passphrase", smallRect, held.collect());
    m_touchId.inlineCancel();
    EXPECT_EQ(held.received, std::vector<Json> { cancelled });
    EXPECT_TRUE(m_fingerprint.checks.empty());
    EXPECT_EQ(m_touchId.checks().pending(), 0u);
}

TEST(InlineFrame, ConvertsThePagesRectangle)
{
    const Json given = rect(10, 20, 30, 40);
    auto flipped = inlineFrame(given, 2, true, 800);
    ASSERT_TRUE(flipped);
    EXPECT_DOUBLE_EQ(flipped->y, 40);
    auto upward = inlineFrame(given, 2, false, 800);
    ASSERT_TRUE(upward);
    EXPECT_DOUBLE_EQ(upward->y, 800 - 60 * 2);
    EXPECT_DOUBLE_EQ(upward->height, 80);
    EXPECT_FALSE(inlineFrame(rect(1e308, 0, 1, 1), 2, true, 800));
    EXPECT_FALSE(inlineFrame(Json { { "x", 0 }, { "y", 0 }, { "w", -1 }, { "h", 1 } }, 1, true, 800));
    EXPECT_FALSE(inlineFrame(Json::array({ 1, 2, 3, 4 }), 1, true, 800));

    EXPECT_EQ(controlSizeFor({ 0, 0, 59.9, 300 }), InlinePromptView::ControlSize::Small);
    EXPECT_EQ(controlSizeFor({ 0, 0, 60, 60 }), InlinePromptView::ControlSize::Regular);
    EXPECT_EQ(controlSizeFor({ 0, 0, 39, 39 }), InlinePromptView::ControlSize::Mini);
}

}
}
