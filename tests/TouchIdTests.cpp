#include "common/Base64.h"
#include "secrets/InlineFrame.h"
#include "secrets/Sealer.h"
#include "secrets/TouchId.h"

#include "doubles/SecretDoubles.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using Outcome = Fingerprint::Outcome;

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

    FakeKeyring m_keyring;
    FakeFingerprint m_fingerprint;
    FakeDeviceKeyStore m_deviceKeys;
    Sealer m_sealer { m_deviceKeys, m_fingerprint };
    TouchId m_touchId { m_keyring, m_fingerprint, m_sealer };
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
    EXPECT_EQ(unlock("passphrase", Outcome::Cancelled), (Json { { "cancelled", true } }));
    EXPECT_EQ(unlock("passphrase", Outcome::Lockout), (Json { { "lockout", true } }));
    EXPECT_EQ(unlock("passphrase", Outcome::Failed), Json());
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));
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

    EXPECT_FALSE(m_touchId.availability().available);
    EXPECT_FALSE(m_touchId.availability().reason.empty());
    m_deviceKeys.isAvailable = true;
    m_fingerprint.reader = false;
    EXPECT_EQ(m_touchId.availability().reason, "There is no fingerprint reader.");
}

TEST_F(TouchIdTest, AFailedWriteReadsAsNotEnabled)
{
    m_keyring.refuseWrites = true;
    EXPECT_FALSE(m_touchId.touchSave("secret", "passphrase"));
    EXPECT_FALSE(m_touchId.touchEnabled("passphrase"));
}

TEST_F(TouchIdTest, ClearingForgetsWithoutAPrompt)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    m_keyring.items[{ "Quillpost Touch ID", "passphrase" }] = "legacy";
    m_touchId.touchClear("passphrase");
    EXPECT_TRUE(m_keyring.items.empty());
    EXPECT_FALSE(m_touchId.touchEnabled("passphrase"));
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), Json());
    EXPECT_TRUE(m_fingerprint.checks.empty());
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
        m_touchId.touchInline("passphrase", Json { { "x", 0 }, { "y", 0 }, { "w", 50 }, { "h", 50 } }, inlineAnswers.collect());
        EXPECT_EQ(inlineAnswers.received, std::vector<Json> { (Json { { "unsupported", true } }) });
        EXPECT_EQ(m_view->shows, 0);
        EXPECT_EQ(m_keyring.items, before);
        EXPECT_EQ(m_keyring.writes, writes);
        EXPECT_EQ(m_keyring.removes, removes);
    }
}

TEST_F(TouchIdTest, TheTwoAccountsAreIndependent)
{
    ASSERT_TRUE(m_touchId.touchSave("data secret", "passphrase"));
    ASSERT_TRUE(m_touchId.touchSave("vault secret", "vault"));
    m_touchId.touchClear("vault");
    EXPECT_FALSE(m_touchId.touchEnabled("vault"));
    EXPECT_TRUE(m_touchId.touchEnabled("passphrase"));
    EXPECT_EQ(unlock("passphrase", Outcome::Verified), "data secret");
}

TEST_F(TouchIdTest, TheInlinePromptShowsWhereThePageAsks)
{
    Answers answers;
    m_touchId.touchInline("passphrase", Json { { "x", 10 }, { "y", 20 }, { "w", 50 }, { "h", 50 } }, answers.collect());
    EXPECT_EQ(answers.received, std::vector<Json> { (Json { { "unsupported", true } }) }) << "nothing saved yet";
    EXPECT_EQ(m_view->shows, 0);

    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    for (auto rect : { Json { { "x", 10 }, { "y", 20 }, { "w", 0 }, { "h", 50 } }, Json { { "x", 10 }, { "y", 20 }, { "w", 50 } }, Json { { "x", "10" }, { "y", 20 }, { "w", 50 }, { "h", 50 } }, Json::object() }) {
        answers.received.clear();
        m_touchId.touchInline("passphrase", rect, answers.collect());
        EXPECT_EQ(answers.received, std::vector<Json> { (Json { { "unsupported", true } }) }) << rect.dump();
    }
    EXPECT_EQ(m_view->shows, 0);
    EXPECT_TRUE(m_fingerprint.checks.empty());

    m_view->zoom = 1.25;
    answers.received.clear();
    m_touchId.touchInline("passphrase", Json { { "x", 100 }, { "y", 200 }, { "w", 88 }, { "h", 200 } }, answers.collect());
    ASSERT_TRUE(m_view->shown);
    EXPECT_EQ(m_view->controlSize, InlinePromptView::ControlSize::Large);
    EXPECT_DOUBLE_EQ(m_view->shown->x, 125);
    EXPECT_DOUBLE_EQ(m_view->shown->y, 250);
    EXPECT_DOUBLE_EQ(m_view->shown->width, 110);
    m_touchId.inlineMove(Json { { "x", 0 }, { "y", 0 }, { "w", 40 }, { "h", 40 } });
    EXPECT_DOUBLE_EQ(m_view->shown->width, 50);
    m_fingerprint.answer(Outcome::Verified);
    EXPECT_EQ(answers.received, std::vector<Json> { Json("secret") });
    EXPECT_FALSE(m_view->shown);
    EXPECT_FALSE(m_touchId.inlineShown());

    // Moving with nothing shown does nothing.
    m_touchId.inlineMove(Json { { "x", 0 }, { "y", 0 }, { "w", 40 }, { "h", 40 } });
    EXPECT_EQ(m_view->moves, 1);
}

TEST_F(TouchIdTest, ANewInlinePromptCancelsTheOneBefore)
{
    ASSERT_TRUE(m_touchId.touchSave("secret", "passphrase"));
    Answers first;
    Answers second;
    const Json rect { { "x", 0 }, { "y", 0 }, { "w", 50 }, { "h", 50 } };
    m_touchId.touchInline("passphrase", rect, first.collect());
    EXPECT_EQ(m_view->controlSize, InlinePromptView::ControlSize::Small);
    m_touchId.touchInline("passphrase", rect, second.collect());
    EXPECT_EQ(first.received, std::vector<Json> { (Json { { "cancelled", true } }) });
    EXPECT_TRUE(second.received.empty());
    EXPECT_TRUE(m_view->shown);
    EXPECT_TRUE(m_fingerprint.checks.front()->cancelled);

    m_touchId.inlineCancel();
    EXPECT_EQ(second.received, std::vector<Json> { (Json { { "cancelled", true } }) });
    EXPECT_FALSE(m_view->shown);
    EXPECT_FALSE(m_touchId.inlineShown());

    // A lockout in the inline prompt reaches the page as one.
    Answers third;
    m_touchId.touchInline("passphrase", rect, third.collect());
    m_fingerprint.answer(Outcome::Lockout);
    EXPECT_EQ(third.received, std::vector<Json> { (Json { { "lockout", true } }) });
    EXPECT_FALSE(m_view->shown);

    // Without a view (the window is gone) there is no prompt.
    m_view.reset();
    Answers fourth;
    m_touchId.touchInline("passphrase", rect, fourth.collect());
    EXPECT_EQ(fourth.received, std::vector<Json> { (Json { { "unsupported", true } }) });
}

TEST(InlineFrame, ConvertsThePagesRectangle)
{
    const Json rect { { "x", 10 }, { "y", 20 }, { "w", 30 }, { "h", 40 } };
    auto flipped = inlineFrame(rect, 2, true, 800);
    ASSERT_TRUE(flipped);
    EXPECT_DOUBLE_EQ(flipped->y, 40);
    auto upward = inlineFrame(rect, 2, false, 800);
    ASSERT_TRUE(upward);
    EXPECT_DOUBLE_EQ(upward->y, 800 - 60 * 2);
    EXPECT_DOUBLE_EQ(upward->height, 80);
    EXPECT_FALSE(inlineFrame(Json { { "x", 1e308 }, { "y", 0 }, { "w", 1 }, { "h", 1 } }, 2, true, 800));
    EXPECT_FALSE(inlineFrame(Json { { "x", 0 }, { "y", 0 }, { "w", -1 }, { "h", 1 } }, 1, true, 800));
    EXPECT_FALSE(inlineFrame(Json::array({ 1, 2, 3, 4 }), 1, true, 800));

    EXPECT_EQ(controlSizeFor({ 0, 0, 59.9, 300 }), InlinePromptView::ControlSize::Small);
    EXPECT_EQ(controlSizeFor({ 0, 0, 60, 60 }), InlinePromptView::ControlSize::Regular);
    EXPECT_EQ(controlSizeFor({ 0, 0, 39, 39 }), InlinePromptView::ControlSize::Mini);
}

}
}
