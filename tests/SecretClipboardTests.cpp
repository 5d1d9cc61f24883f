#include "secrets/KeyringDeviceKeyStore.h"
#include "secrets/Secrets.h"

#include "doubles/CommandHarness.h"
#include "doubles/SecretDoubles.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using namespace std::chrono_literals;
using Status = Keyring::Lookup::Status;

TEST(SecretClipboard, ACopiedSecretIsMarkedAndWipedAfterItsTimeUnlessSomethingWasCopiedSince)
{
    FakeClipboard clipboard;
    VirtualClock clock;
    SecretClipboard secrets { clipboard, clock };
    EXPECT_TRUE(secrets.copySecret("hunter2", 1));
    EXPECT_EQ(clipboard.extra, (std::map<std::string, std::string> { { "org.nspasteboard.ConcealedType", "" }, { "x-kde-passwordManagerHint", "secret" } }));
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

// The secret commands over doubles of the platform and the real device key store, whose password
// store can be locked: arguments, defaults, the accounts and the self-test's gate.
class SecretCommandTest : public testing::Test {
protected:
    std::shared_ptr<CommandAnswer> run(const std::string& cmd, const Json& args = Json::array(), bool selfTest = false)
    {
        auto answer = (selfTest ? m_selfTest : m_normal).send(cmd, args);
        if (m_fingerprint.waiting())
            m_fingerprint.answer(Fingerprint::Outcome::Verified);
        return answer;
    }
    Json result(const std::string& cmd, const Json& args = Json::array(), bool selfTest = false)
    {
        return run(cmd, args, selfTest)->json();
    }

    VirtualClock m_clock;
    FakeKeyring m_keyring;
    FakeFingerprint m_fingerprint;
    KeyringDeviceKeyStore m_deviceKeys { m_keyring };
    FakeClipboard m_clipboard;
    Secrets m_secrets { { m_keyring, m_fingerprint, m_deviceKeys, m_clipboard, m_clock } };
    CommandHarness m_normal { true, [this](Bridge::Services& services) { services.secrets = &m_secrets; } };
    CommandHarness m_selfTest { true, [this](Bridge::Services& services) {
                                   services.secrets = &m_secrets;
                                   services.selfTest = true;
                               } };
};

TEST_F(SecretCommandTest, CopySecretKeepsTheSecretThirtySecondsUnlessToldAndProbesAnswerOnlyInASelfTest)
{
    EXPECT_EQ(result("copySecret", Json::array({ "pw" })), true);
    m_clock.advance(29s);
    EXPECT_EQ(m_clipboard.text, "pw");
    m_clock.advance(1s);
    EXPECT_FALSE(m_clipboard.text);
    EXPECT_EQ(result("copySecret", Json::array({ 42, "2" })), true);
    EXPECT_EQ(m_clipboard.text, "");
    EXPECT_EQ(m_clock.pendingTimers(), 1u);

    for (auto cmd : { "clipText", "clipSet", "clipConcealed", "seSelfTest" })
        EXPECT_EQ(run(cmd)->error, std::string("Unknown command ") + cmd);
    EXPECT_EQ(result("clipSet", Json::array({ "plain" }), true), true);
    EXPECT_EQ(result("clipText", Json::array(), true), "plain");
    EXPECT_EQ(result("clipConcealed", Json::array(), true), false);
    run("copySecret", Json::array({ "pw", 1 }));
    EXPECT_EQ(result("clipConcealed", Json::array(), true), true);
}

TEST_F(SecretCommandTest, AskingWritesNothingAndEachAccountKeepsItsOwnPassphrase)
{
    EXPECT_EQ(result("touchIdStatus"), (Json { { "available", true }, { "reason", "" } }));
    EXPECT_EQ(result("seSelfTest", Json::array(), true),
        (Json { { "available", true }, { "roundTrip", true }, { "noPlaintext", true }, { "tamperRejected", true }, { "otherKeyRejected", true } }));
    EXPECT_EQ(result("touchIdUnlock"), Json()) << "an unlock with nothing saved makes no key either";
    EXPECT_EQ(m_keyring.writes, 0);

    const struct {
        const char* cmd;
        Json args;
        Json result;
    } steps[] = {
        { "touchIdSave", Json::array({ "data pass" }), true },
        { "vaultTouchSave", Json::array({ Json::object() }), false },
        { "vaultTouchEnabled", Json::array(), false },
        { "touchIdEnabled", Json::array(), true },
        { "touchIdAvailable", Json::array(), true },
        { "vaultTouchAvailable", Json::array(), true },
        { "vaultTouchUnlock", Json::array(), nullptr },
        { "touchIdInline", Json::array({ "not a rectangle" }), Json { { "unsupported", true } } },
        { "touchIdInlineMove", Json::array(), true },
        { "touchIdUnlock", Json::array(), "data pass" },
        { "touchIdClear", Json::array(), true },
        { "touchIdEnabled", Json::array(), false },
    };
    for (const auto& step : steps)
        EXPECT_EQ(result(step.cmd, step.args), step.result) << step.cmd;
    EXPECT_EQ(m_fingerprint.checks.back()->reason, "unlock your client data");
    m_fingerprint.reader = false;
    EXPECT_EQ(result("touchIdStatus"), (Json { { "available", false }, { "reason", "There is no fingerprint reader." } }));
}

TEST_F(SecretCommandTest, ALockedStoreKeepsSavedPassphrasesAndSaysWhy)
{
    ASSERT_EQ(result("touchIdSave", Json::array({ "kept passphrase" })), true);
    const auto saved = m_keyring.items;
    const auto writes = m_keyring.writes;
    for (auto answer : { Status::Locked, Status::Unavailable }) {
        m_keyring.answer = answer;
        EXPECT_EQ(result("touchIdAvailable"), false);
        auto status = result("touchIdStatus");
        EXPECT_EQ(status["available"], false);
        EXPECT_NE(status["reason"].get<std::string>().find(answer == Status::Locked ? "is locked" : "Secret Service"), std::string::npos);
        EXPECT_EQ(result("seSelfTest", Json::array(), true), (Json { { "available", false } }));
        // The unlock answers null without a fingerprint check; the save that would need the key fails.
        auto checks = m_fingerprint.checks.size();
        EXPECT_EQ(result("touchIdUnlock"), Json());
        EXPECT_EQ(m_fingerprint.checks.size(), checks);
        EXPECT_EQ(result("vaultTouchSave", Json::array({ "new" })), false);
    }
    EXPECT_EQ(m_keyring.writes, writes);
    EXPECT_EQ(m_keyring.items, saved);

    // Only the device key out of reach (its item locked apart), with the fingers changed meanwhile:
    // nothing proves the record is dead, so it stays.
    m_keyring.answer = Status::Found;
    m_keyring.byAccount[KeyringDeviceKeyStore::account] = Status::Locked;
    m_fingerprint.state = "another finger";
    EXPECT_EQ(result("touchIdUnlock"), (Json { { "unreadable", true } }));
    EXPECT_EQ(m_keyring.items, saved);

    m_keyring.byAccount.clear();
    m_fingerprint.state = "right-index-finger";
    EXPECT_EQ(result("touchIdUnlock"), "kept passphrase");
}

}
}
