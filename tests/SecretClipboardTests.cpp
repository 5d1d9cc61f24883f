#include "bridge/Bridge.h"
#include "secrets/Secrets.h"
#include "store/Store.h"

#include "doubles/DesktopDoubles.h"
#include "doubles/SecretDoubles.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using namespace std::chrono_literals;

class SecretClipboardTest : public testing::Test {
protected:
    FakeClipboard m_clipboard;
    VirtualClock m_clock;
    SecretClipboard m_secrets { m_clipboard, m_clock };
};

TEST_F(SecretClipboardTest, ACopiedSecretIsMarkedAndWipedAfterItsTime)
{
    EXPECT_TRUE(m_secrets.copySecret("hunter2", 1));
    EXPECT_EQ(m_clipboard.text, "hunter2");
    EXPECT_EQ(m_clipboard.extra.at("org.nspasteboard.ConcealedType"), "");
    EXPECT_EQ(m_clipboard.extra.at("x-kde-passwordManagerHint"), "secret");
    m_clock.advance(999ms);
    EXPECT_EQ(m_clipboard.text, "hunter2");
    m_clock.advance(1ms);
    EXPECT_FALSE(m_clipboard.text);
}

TEST_F(SecretClipboardTest, WhatWasCopiedSinceStays)
{
    m_secrets.copySecret("hunter2", 1);
    m_clipboard.copiedElsewhere("a note");
    m_clock.advance(5s);
    EXPECT_EQ(m_clipboard.text, "a note");

    // Of two copies, only the newer one's wipe still matches.
    m_secrets.copySecret("first", 10);
    m_secrets.copySecret("second", 30);
    m_clock.advance(10s);
    EXPECT_EQ(m_clipboard.text, "second");
    m_clock.advance(20s);
    EXPECT_FALSE(m_clipboard.text);
}

TEST_F(SecretClipboardTest, OddTimesNeitherOverflowNorLinger)
{
    m_secrets.copySecret("now", -5);
    m_clock.advance(0ms);
    EXPECT_FALSE(m_clipboard.text);
    m_secrets.copySecret("later", 1e300);
    m_clock.advance(std::chrono::hours(24));
    EXPECT_FALSE(m_clipboard.text);
}

// The commands over doubles of the platform: arguments, defaults and the self-test's gate.
class SecretCommandTest : public testing::Test {
protected:
    SecretCommandTest()
        : m_store(Store::Location { m_folder.path(), true, m_folder.path() / "home", m_folder.path() / "documents" }, Store::Services { m_clock, m_clock, m_clock })
    {
    }

    std::pair<std::optional<std::string>, std::optional<std::string>> run(const std::string& cmd, const Json& args, bool selfTest)
    {
        Bridge bridge({ .store = m_store, .panels = m_panels, .workspace = m_workspace, .processes = m_processes, .mainQueue = m_clock, .selfTest = selfTest, .secrets = &m_secrets });
        std::pair<std::optional<std::string>, std::optional<std::string>> answer;
        bridge.handle(cmd, args, CommandReply([&](std::optional<std::string> result, std::optional<std::string> error) { answer = { result, error }; }));
        return answer;
    }

    TemporaryFolder m_folder { "quillpost-secrets" };
    VirtualClock m_clock;
    Store m_store;
    FakePanels m_panels;
    FakeWorkspace m_workspace;
    FakeProcessRunner m_processes;
    FakeKeyring m_keyring;
    FakeFingerprint m_fingerprint;
    FakeDeviceKeyStore m_deviceKeys;
    FakeClipboard m_clipboard;
    Secrets m_secrets { { m_keyring, m_fingerprint, m_deviceKeys, m_clipboard, m_clock } };
};

TEST_F(SecretCommandTest, CopySecretKeepsTheSecretThirtySecondsUnlessTold)
{
    EXPECT_EQ(run("copySecret", Json::array({ "pw" }), false).first, "true");
    m_clock.advance(29s);
    EXPECT_EQ(m_clipboard.text, "pw");
    m_clock.advance(1s);
    EXPECT_FALSE(m_clipboard.text);

    EXPECT_EQ(run("copySecret", Json::array({ 42, "2" }), false).first, "true");
    EXPECT_EQ(m_clipboard.text, "");
    EXPECT_EQ(m_clock.pendingTimers(), 1u);
}

TEST_F(SecretCommandTest, ClipboardProbesAnswerOnlyInASelfTest)
{
    for (auto cmd : { "clipText", "clipSet", "clipConcealed", "seSelfTest" })
        EXPECT_EQ(run(cmd, Json::array(), false).second, std::string("Unknown command ") + cmd);

    EXPECT_EQ(run("clipSet", Json::array({ "plain" }), true).first, "true");
    EXPECT_EQ(run("clipText", Json::array(), true).first, "\"plain\"");
    EXPECT_EQ(run("clipConcealed", Json::array(), true).first, "false");
    run("copySecret", Json::array({ "pw", 1 }), false);
    EXPECT_EQ(run("clipConcealed", Json::array(), true).first, "true");
    EXPECT_EQ(Json::parse(*run("seSelfTest", Json::array(), true).first)["otherKeyRejected"], true);
}

TEST_F(SecretCommandTest, FingerprintCommandsUseTheirOwnAccounts)
{
    EXPECT_EQ(run("touchIdSave", Json::array({ "data pass" }), false).first, "true");
    EXPECT_EQ(run("vaultTouchSave", Json::array({ Json::object() }), false).first, "false");
    EXPECT_EQ(run("vaultTouchEnabled", Json::array(), false).first, "false");
    EXPECT_EQ(run("touchIdEnabled", Json::array(), false).first, "true");
    EXPECT_EQ(run("touchIdAvailable", Json::array(), false).first, "true");
    EXPECT_EQ(run("vaultTouchAvailable", Json::array(), false).first, "true");

    std::optional<std::string> unlocked;
    Bridge bridge({ .store = m_store, .panels = m_panels, .workspace = m_workspace, .processes = m_processes, .mainQueue = m_clock, .secrets = &m_secrets });
    bridge.handle("touchIdUnlock", Json::array(), CommandReply([&](std::optional<std::string> result, std::optional<std::string>) { unlocked = result; }));
    EXPECT_FALSE(unlocked);
    m_fingerprint.answer(Fingerprint::Outcome::Verified);
    EXPECT_EQ(unlocked, "\"data pass\"");
    EXPECT_EQ(m_fingerprint.checks.back()->reason, "unlock your client data");

    EXPECT_EQ(run("vaultTouchUnlock", Json::array(), false).first, "null");
    EXPECT_EQ(run("touchIdInline", Json::array({ "not a rectangle" }), false).first, R"({"unsupported":true})");
    EXPECT_EQ(run("touchIdInlineMove", Json::array(), false).first, "true");
    EXPECT_EQ(run("touchIdClear", Json::array(), false).first, "true");
    EXPECT_EQ(run("touchIdEnabled", Json::array(), false).first, "false");

    m_fingerprint.reader = false;
    EXPECT_EQ(Json::parse(*run("touchIdStatus", Json::array(), false).first), (Json { { "available", false }, { "reason", "There is no fingerprint reader." } }));
}

}
}
