#include "secrets/Secrets.h"

#include "doubles/CommandHarness.h"
#include "doubles/SecretDoubles.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using namespace std::chrono_literals;

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
    clipboard.copiedElsewhere("a note");
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

// The commands over doubles of the platform: arguments, defaults and the self-test's gate.
class SecretCommandTest : public testing::Test {
protected:
    std::shared_ptr<CommandAnswer> run(const std::string& cmd, const Json& args = Json::array(), bool selfTest = false)
    {
        return (selfTest ? m_selfTest : m_normal).send(cmd, args);
    }

    VirtualClock m_clock;
    FakeKeyring m_keyring;
    FakeFingerprint m_fingerprint;
    FakeDeviceKeyStore m_deviceKeys;
    FakeClipboard m_clipboard;
    Secrets m_secrets { { m_keyring, m_fingerprint, m_deviceKeys, m_clipboard, m_clock } };
    CommandHarness m_normal { true, [this](Bridge::Services& services) { services.secrets = &m_secrets; } };
    CommandHarness m_selfTest { true, [this](Bridge::Services& services) {
                                   services.secrets = &m_secrets;
                                   services.selfTest = true;
                               } };
};

TEST_F(SecretCommandTest, CopySecretKeepsTheSecretThirtySecondsUnlessTold)
{
    EXPECT_EQ(run("copySecret", Json::array({ "pw" }))->result, "true");
    m_clock.advance(29s);
    EXPECT_EQ(m_clipboard.text, "pw");
    m_clock.advance(1s);
    EXPECT_FALSE(m_clipboard.text);

    EXPECT_EQ(run("copySecret", Json::array({ 42, "2" }))->result, "true");
    EXPECT_EQ(m_clipboard.text, "");
    EXPECT_EQ(m_clock.pendingTimers(), 1u);
}

TEST_F(SecretCommandTest, ClipboardProbesAnswerOnlyInASelfTest)
{
    for (auto cmd : { "clipText", "clipSet", "clipConcealed", "seSelfTest" })
        EXPECT_EQ(run(cmd)->error, std::string("Unknown command ") + cmd);

    EXPECT_EQ(run("clipSet", Json::array({ "plain" }), true)->result, "true");
    EXPECT_EQ(run("clipText", Json::array(), true)->result, "\"plain\"");
    EXPECT_EQ(run("clipConcealed", Json::array(), true)->result, "false");
    run("copySecret", Json::array({ "pw", 1 }));
    EXPECT_EQ(run("clipConcealed", Json::array(), true)->result, "true");
    EXPECT_EQ(run("seSelfTest", Json::array(), true)->json()["otherKeyRejected"], true);
}

TEST_F(SecretCommandTest, FingerprintCommandsUseTheirOwnAccounts)
{
    const struct {
        const char* cmd;
        Json args;
        const char* result;
    } steps[] = {
        { "touchIdSave", Json::array({ "data pass" }), "true" },
        { "vaultTouchSave", Json::array({ Json::object() }), "false" },
        { "vaultTouchEnabled", Json::array(), "false" },
        { "touchIdEnabled", Json::array(), "true" },
        { "touchIdAvailable", Json::array(), "true" },
        { "vaultTouchAvailable", Json::array(), "true" },
        { "vaultTouchUnlock", Json::array(), "null" },
        { "touchIdInline", Json::array({ "not a rectangle" }), R"({"unsupported":true})" },
        { "touchIdInlineMove", Json::array(), "true" },
    };
    for (const auto& step : steps)
        EXPECT_EQ(run(step.cmd, step.args)->result, step.result) << step.cmd;

    auto unlocked = run("touchIdUnlock");
    EXPECT_FALSE(unlocked->result);
    m_fingerprint.answer(Fingerprint::Outcome::Verified);
    EXPECT_EQ(unlocked->result, "\"data pass\"");
    EXPECT_EQ(m_fingerprint.checks.back()->reason, "unlock your client data");

    EXPECT_EQ(run("touchIdClear")->result, "true");
    EXPECT_EQ(run("touchIdEnabled")->result, "false");
    m_fingerprint.reader = false;
    EXPECT_EQ(run("touchIdStatus")->json(), (Json { { "available", false }, { "reason", "There is no fingerprint reader." } }));
}

}
}
