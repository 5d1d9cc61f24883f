#include "common/Base64.h"
#include "secrets/KeyringDeviceKeyStore.h"

#include "doubles/SecretDoubles.h"

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
    for (const auto& [answer, state, ownWords] : { std::tuple { Status::Locked, "locked", "is locked" },
             std::tuple { Status::Unavailable, "Secret Service", "not provided" } }) {
        for (bool keyStored : { true, false }) {
            for (auto access : { Access::Probe, Access::Read, Access::ReadOrCreate }) {
                SCOPED_TRACE(testing::Message() << state << ", key stored " << keyStored << ", access " << static_cast<int>(access));
                FakeKeyring keyring;
                if (keyStored)
                    keyring.items[deviceItem] = existingKey;
                const auto before = keyring.items;
                keyring.answer = answer;
                auto lookup = KeyringDeviceKeyStore(keyring).deviceKey(access);
                EXPECT_EQ(lookup.state, State::Unusable);
                EXPECT_FALSE(lookup.key);
                EXPECT_NE(lookup.reason.find(state), std::string::npos) << lookup.reason;
                EXPECT_NE(lookup.reason.find(ownWords), std::string::npos) << lookup.reason;
                EXPECT_EQ(keyring.writes + keyring.removes, 0);
                EXPECT_EQ(keyring.items, before);
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
    EXPECT_EQ(made.key->size(), DeviceKeyStore::keySize);
    EXPECT_EQ(base64Decode(keyring.items.at(deviceItem)), std::string(made.key->view()));
    for (auto access : { Access::Probe, Access::Read, Access::ReadOrCreate })
        EXPECT_EQ(store.deviceKey(access).key->view(), made.key->view());
    EXPECT_EQ(keyring.writes, 1);

    // A key that appears between the first look and the write (another copy of the program) is
    // taken, not overwritten; a store that fails on the second look gets nothing written.
    keyring.items[deviceItem] = existingKey;
    keyring.scripted = { Status::NotFound };
    EXPECT_EQ(store.deviceKey(Access::ReadOrCreate).key->view(), std::string(32, 'e'));
    keyring.items.clear();
    keyring.scripted = { Status::NotFound, Status::Locked };
    EXPECT_EQ(store.deviceKey(Access::ReadOrCreate).state, State::Unusable);
    EXPECT_EQ(keyring.writes, 1);
    EXPECT_TRUE(keyring.items.empty());
}

TEST(DeviceKeyStore, ADamagedOrRefusedKeyIsReportedNotReplaced)
{
    for (auto stored : { std::string("not base64 !"), base64Encode("too short"), base64Encode(std::string(33, 'e')) }) {
        FakeKeyring keyring;
        keyring.items[deviceItem] = stored;
        auto lookup = KeyringDeviceKeyStore(keyring).deviceKey(Access::ReadOrCreate);
        EXPECT_EQ(lookup.state, State::Unusable);
        EXPECT_NE(lookup.reason.find("damaged"), std::string::npos);
        EXPECT_EQ(keyring.writes, 0);
        EXPECT_EQ(keyring.items.at(deviceItem), stored);
    }
    FakeKeyring keyring;
    keyring.refuseWrites = true;
    auto refused = KeyringDeviceKeyStore(keyring).deviceKey(Access::ReadOrCreate);
    EXPECT_EQ(refused.state, State::Unusable);
    EXPECT_FALSE(refused.key) << "a key that isn't kept would seal records nothing can open";
}

}
}
