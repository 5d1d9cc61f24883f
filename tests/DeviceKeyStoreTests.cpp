#include "bridge/Bridge.h"
#include "common/Base64.h"
#include "secrets/KeyringDeviceKeyStore.h"
#include "secrets/Secrets.h"
#include "store/Store.h"

#include "doubles/DesktopDoubles.h"
#include "doubles/SecretDoubles.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using Access = DeviceKeyStore::Access;
using State = DeviceKeyStore::Lookup::State;
using Status = Keyring::Lookup::Status;

const std::pair<std::string, std::string> deviceItem { KeyringDeviceKeyStore::service, KeyringDeviceKeyStore::account };
const std::string existingKey = base64Encode(std::string(32, 'e'));

TEST(DeviceKeyStore, AStoreThatCantAnswerNeverGetsANewKey)
{
    // Each reason names the store's state and carries the store's own words.
    for (const auto& [answer, state, ownWords] : { std::tuple { Status::Locked, "locked", "is locked" }, std::tuple { Status::Unavailable, "Secret Service", "not provided" } }) {
        for (bool keyStored : { true, false }) {
            for (auto access : { Access::Probe, Access::Read, Access::ReadOrCreate }) {
                SCOPED_TRACE(testing::Message() << state << ", key stored " << keyStored << ", access " << static_cast<int>(access));
                FakeKeyring keyring;
                if (keyStored)
                    keyring.items[deviceItem] = existingKey;
                keyring.answer = answer;
                auto lookup = KeyringDeviceKeyStore(keyring).deviceKey(access);
                EXPECT_EQ(lookup.state, State::Unusable);
                EXPECT_FALSE(lookup.key);
                EXPECT_NE(lookup.reason.find(state), std::string::npos) << lookup.reason;
                EXPECT_NE(lookup.reason.find(ownWords), std::string::npos) << lookup.reason;
                EXPECT_EQ(keyring.writes + keyring.removes, 0);
                EXPECT_EQ(keyring.items, (keyStored ? decltype(keyring.items) { { deviceItem, existingKey } } : decltype(keyring.items) {}));
            }
        }
    }
}

TEST(DeviceKeyStore, OnlySealingMakesAKeyAndOnlyAfterACertainNotFound)
{
    FakeKeyring keyring;
    KeyringDeviceKeyStore store(keyring);
    for (auto access : { Access::Probe, Access::Read }) {
        auto lookup = store.deviceKey(access);
        EXPECT_EQ(lookup.state, State::Missing);
        EXPECT_FALSE(lookup.key);
    }
    EXPECT_EQ(keyring.writes, 0);
    EXPECT_EQ(keyring.interactions.front(), Keyring::Interaction::Never) << "a probe shows no unlock prompt";

    auto made = store.deviceKey(Access::ReadOrCreate);
    ASSERT_EQ(made.state, State::Ready);
    ASSERT_TRUE(made.key);
    EXPECT_EQ(made.key->size(), DeviceKeyStore::keySize);
    EXPECT_EQ(base64Decode(keyring.items.at(deviceItem)), std::string(made.key->view()));
    EXPECT_EQ(keyring.writes, 1);
    for (auto access : { Access::Probe, Access::Read, Access::ReadOrCreate })
        EXPECT_EQ(store.deviceKey(access).key->view(), made.key->view());
    EXPECT_EQ(keyring.writes, 1);

    // A key that appears between the first look and the write (another copy of the program) is
    // taken, not overwritten; a store that fails on the second look gets nothing written.
    keyring.items[deviceItem] = existingKey;
    keyring.scripted = { Status::NotFound };
    auto theirs = store.deviceKey(Access::ReadOrCreate);
    ASSERT_TRUE(theirs.key);
    EXPECT_EQ(theirs.key->view(), std::string(32, 'e'));
    keyring.items.clear();
    keyring.scripted = { Status::NotFound, Status::Locked };
    EXPECT_EQ(store.deviceKey(Access::ReadOrCreate).state, State::Unusable);
    EXPECT_EQ(keyring.writes, 1);
    EXPECT_TRUE(keyring.items.empty());
}

TEST(DeviceKeyStore, ADamagedOrRefusedKeyIsReportedNotReplaced)
{
    for (auto stored : { std::string("not base64 !"), base64Encode("too short") }) {
        FakeKeyring keyring;
        keyring.items[deviceItem] = stored;
        KeyringDeviceKeyStore store(keyring);
        auto lookup = store.deviceKey(Access::ReadOrCreate);
        EXPECT_EQ(lookup.state, State::Unusable);
        EXPECT_NE(lookup.reason.find("damaged"), std::string::npos);
        EXPECT_EQ(keyring.writes, 0);
        EXPECT_EQ(keyring.items.at(deviceItem), stored);
    }
    FakeKeyring keyring;
    keyring.refuseWrites = true;
    KeyringDeviceKeyStore store(keyring);
    auto refused = store.deviceKey(Access::ReadOrCreate);
    EXPECT_EQ(refused.state, State::Unusable);
    EXPECT_FALSE(refused.key) << "a key that isn't kept would seal records nothing can open";
}

// The commands over the real device key store, with a password store that can be locked.
class DeviceKeyCommandTest : public testing::Test {
protected:
    DeviceKeyCommandTest()
        : m_store(Store::Location { m_folder.path(), true, m_folder.path() / "home", m_folder.path() / "documents" }, Store::Services { m_clock, m_clock, m_clock })
    {
    }

    Json run(const std::string& cmd, const Json& args = Json::array(), bool selfTest = false)
    {
        Bridge bridge({ .store = m_store, .panels = m_panels, .workspace = m_workspace, .processes = m_processes, .mainQueue = m_clock, .selfTest = selfTest, .secrets = &m_secrets });
        std::optional<std::string> answer;
        bridge.handle(cmd, args, CommandReply([&](std::optional<std::string> result, std::optional<std::string> error) { answer = result ? result : error; }));
        if (m_fingerprint.waiting())
            m_fingerprint.answer(Fingerprint::Outcome::Verified);
        return answer ? Json::parse(*answer, nullptr, false) : Json("no answer");
    }

    TemporaryFolder m_folder { "quillpost-device-key" };
    VirtualClock m_clock;
    Store m_store;
    FakePanels m_panels;
    FakeWorkspace m_workspace;
    FakeProcessRunner m_processes;
    FakeKeyring m_keyring;
    FakeFingerprint m_fingerprint;
    KeyringDeviceKeyStore m_deviceKeys { m_keyring };
    FakeClipboard m_clipboard;
    Secrets m_secrets { { m_keyring, m_fingerprint, m_deviceKeys, m_clipboard, m_clock } };
};

TEST_F(DeviceKeyCommandTest, AskingWhetherFingerprintUnlockWorksWritesNothing)
{
    EXPECT_EQ(run("touchIdAvailable"), true);
    EXPECT_EQ(run("vaultTouchAvailable"), true);
    EXPECT_EQ(run("touchIdStatus"), (Json { { "available", true }, { "reason", "" } }));
    EXPECT_EQ(run("touchIdEnabled"), false);
    auto selfTest = run("seSelfTest", Json::array(), true);
    EXPECT_EQ(selfTest, (Json { { "available", true }, { "roundTrip", true }, { "noPlaintext", true }, { "tamperRejected", true }, { "otherKeyRejected", true } }));
    EXPECT_EQ(m_keyring.writes, 0);
    EXPECT_TRUE(m_keyring.items.empty());

    // An unlock with nothing saved doesn't make a key either.
    EXPECT_EQ(run("touchIdUnlock"), Json());
    EXPECT_EQ(m_keyring.writes, 0);
}

TEST_F(DeviceKeyCommandTest, ALockedStoreKeepsSavedPassphrasesAndSaysWhy)
{
    ASSERT_EQ(run("touchIdSave", Json::array({ "kept passphrase" })), true);
    const auto saved = m_keyring.items;
    const auto writes = m_keyring.writes;

    for (auto answer : { Status::Locked, Status::Unavailable }) {
        m_keyring.answer = answer;
        EXPECT_EQ(run("touchIdAvailable"), false);
        auto status = run("touchIdStatus");
        EXPECT_EQ(status["available"], false);
        EXPECT_NE(status["reason"].get<std::string>().find(answer == Status::Locked ? "is locked" : "Secret Service"), std::string::npos) << status;
        EXPECT_EQ(run("seSelfTest", Json::array(), true), (Json { { "available", false } }));
        // The unlock answers null without a fingerprint check; the save that would need the key fails.
        auto checks = m_fingerprint.checks.size();
        EXPECT_EQ(run("touchIdUnlock"), Json());
        EXPECT_EQ(m_fingerprint.checks.size(), checks);
        EXPECT_EQ(run("vaultTouchSave", Json::array({ "new" })), false);
    }
    EXPECT_EQ(m_keyring.writes, writes);
    EXPECT_EQ(m_keyring.items, saved);

    // Only the device key out of reach (its item locked apart), with the fingers changed meanwhile:
    // nothing proves the record is dead, so it stays.
    m_keyring.answer = Status::Found;
    m_keyring.byAccount[KeyringDeviceKeyStore::account] = Status::Locked;
    m_fingerprint.state = "another finger";
    EXPECT_EQ(run("touchIdUnlock"), (Json { { "unreadable", true } }));
    EXPECT_EQ(m_keyring.items, saved);

    m_keyring.byAccount.clear();
    m_fingerprint.state = "right-index-finger";
    EXPECT_EQ(run("touchIdStatus")["available"], true);
    EXPECT_EQ(run("touchIdUnlock"), "kept passphrase");
}

}
}
