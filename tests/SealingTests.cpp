#include "common/Base64.h"
#include "secrets/KeyringDeviceKeyStore.h"
#include "secrets/SealedRecord.h"
#include "secrets/Sealer.h"

#include "doubles/SecretDoubles.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

const std::string passphrase = "correct horse battery staple ✓";

SealError::Code openFailure(Sealer& sealer, const std::string& record, const AuthContext* context = nullptr)
{
    try {
        sealer.seOpen(record, context);
    } catch (const SealError& error) {
        return error.code();
    }
    ADD_FAILURE() << "the record opened";
    return SealError::Code::Unsupported;
}

class SealingTest : public testing::Test {
protected:
    FakeKeyring m_keyring;
    KeyringDeviceKeyStore m_deviceKeys { m_keyring };
    FakeFingerprint m_fingerprint;
    Sealer m_sealer { m_deviceKeys, m_fingerprint };
};

TEST_F(SealingTest, RecordsOpenToTheirTextAndHoldNoPlaintext)
{
    auto first = m_sealer.seSeal(passphrase, Binding::None);
    auto second = m_sealer.seSeal(passphrase, Binding::None);
    EXPECT_EQ(m_sealer.seOpen(first).view(), passphrase);
    EXPECT_EQ(m_sealer.seOpen(second).view(), passphrase);
    EXPECT_EQ(first.find("correct horse"), std::string::npos);
    EXPECT_EQ(m_sealer.seOpen(m_sealer.seSeal("", Binding::None)).view(), "");

    // Three members in the order key, eph, box, each Base64 of bytes of the described sizes.
    auto json = Json::parse(first);
    ASSERT_EQ(first.find("{\"key\":"), 0u);
    EXPECT_LT(first.find("\"eph\":"), first.find("\"box\":"));
    EXPECT_EQ(base64Decode(json["box"].get<std::string>())->size(), 12 + passphrase.size() + 16);
    // Every record has its own key and its own ephemeral key.
    auto other = Json::parse(second);
    EXPECT_NE(json["key"], other["key"]);
    EXPECT_NE(json["eph"], other["eph"]);
}

TEST_F(SealingTest, AlteredOrForeignRecordsDoNotOpen)
{
    const auto record = *SealedRecord::parse(m_sealer.seSeal(passphrase, Binding::None));
    const auto other = *SealedRecord::parse(m_sealer.seSeal("x", Binding::None));
    auto changed = [&](std::string SealedRecord::Parts::*member, std::size_t byte, char bits, std::string replaced = {}) {
        auto parts = record;
        if (!replaced.empty())
            parts.*member = replaced;
        else
            (parts.*member)[byte] = static_cast<char>((parts.*member)[byte] ^ bits);
        return SealedRecord::encode(parts);
    };
    const std::pair<const char*, std::string> altered[] = {
        { "the box's first byte", changed(&SealedRecord::Parts::box, 0, 1) },
        { "the box's first ciphertext byte", changed(&SealedRecord::Parts::box, 12, 1) },
        { "the box's last byte", changed(&SealedRecord::Parts::box, record.box.size() - 1, 1) },
        { "the wrapped key", changed(&SealedRecord::Parts::key, 20, '\x80') },
        { "another record's key", changed(&SealedRecord::Parts::key, 0, 0, other.key) },
        { "another record's ephemeral key", changed(&SealedRecord::Parts::eph, 0, 0, other.eph) },
        { "an ephemeral key off the curve", changed(&SealedRecord::Parts::eph, 0, 0, std::string(64, '\x01')) },
    };
    for (const auto& [name, bytes] : altered)
        EXPECT_EQ(openFailure(m_sealer, bytes), SealError::Code::Refused) << name;

    // The same record on another machine, whose device key differs.
    FakeKeyring otherKeyring;
    otherKeyring.items[{ KeyringDeviceKeyStore::service, KeyringDeviceKeyStore::account }] = base64Encode(std::string(32, 'm'));
    KeyringDeviceKeyStore otherMachine(otherKeyring);
    Sealer elsewhere(otherMachine, m_fingerprint);
    EXPECT_EQ(openFailure(elsewhere, SealedRecord::encode(record)), SealError::Code::Refused);
}

TEST_F(SealingTest, FingerprintBoundRecordsNeedTheFingersTheyWereSealedWith)
{
    m_fingerprint.state = "index and thumb";
    auto record = m_sealer.seSeal(passphrase, Binding::CurrentFingers);

    AuthContext sameFingers { "index and thumb" };
    EXPECT_EQ(m_sealer.seOpen(record, &sameFingers).view(), passphrase);
    EXPECT_EQ(openFailure(m_sealer, record), SealError::Code::NeedsFingerprint);
    AuthContext newFinger { "index, thumb and ring" };
    EXPECT_EQ(openFailure(m_sealer, record, &newFinger), SealError::Code::Refused);

    // Marking a bound record as unbound does not get around the check.
    auto unbound = SealedRecord::parse(record);
    unbound->key[0] = '\0';
    EXPECT_EQ(openFailure(m_sealer, SealedRecord::encode(*unbound)), SealError::Code::Refused);

    m_fingerprint.state.reset();
    EXPECT_THROW(m_sealer.seSeal(passphrase, Binding::CurrentFingers), SealError);
}

TEST_F(SealingTest, OnlyWellFormedRecordsAreRead)
{
    auto good = Json::parse(m_sealer.seSeal(passphrase, Binding::None));
    std::vector<std::string> malformed = { "", "null", "[]", "{", "\"text\"", R"({"key":"","eph":"","box":""})" };
    for (const char* member : { "key", "eph", "box" }) {
        auto missing = good;
        missing.erase(member);
        malformed.push_back(missing.dump());
        auto notText = good;
        notText[member] = 42;
        malformed.push_back(notText.dump());
        auto notBase64 = good;
        notBase64[member] = "@@@@";
        malformed.push_back(notBase64.dump());
        // Shorter than the form allows: key and eph have fixed sizes, box needs its nonce and tag.
        auto shortened = good;
        auto bytes = *base64Decode(good[member].get<std::string>());
        shortened[member] = base64Encode(bytes.substr(0, std::string_view(member) == "box" ? 27 : bytes.size() - 1));
        malformed.push_back(shortened.dump());
    }
    auto badBinding = good;
    auto key = *base64Decode(good["key"].get<std::string>());
    key[0] = '\x07';
    badBinding["key"] = base64Encode(key);
    malformed.push_back(badBinding.dump());

    for (auto& record : malformed) {
        EXPECT_FALSE(SealedRecord::parse(record)) << record;
        EXPECT_EQ(openFailure(m_sealer, record), SealError::Code::Malformed) << record;
    }
}

TEST_F(SealingTest, TextThatIsNotUtf8DoesNotComeBack)
{
    // The edges of the three- and four-byte forms: U+0800, U+D7FF, U+10000 and U+10FFFF are text; an
    // overlong form, a surrogate and anything past U+10FFFF are not.
    const auto key = *m_deviceKeys.deviceKey(DeviceKeyStore::Access::ReadOrCreate).key;
    for (const char* text : { "\xE0\xA0\x80", "\xED\x9F\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF" })
        EXPECT_EQ(m_sealer.seOpen(SealedRecord::seal(text, key, Binding::None, std::nullopt)).view(), text);
    for (const char* text : { "caf\xe9", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80" })
        EXPECT_EQ(openFailure(m_sealer, SealedRecord::seal(text, key, Binding::None, std::nullopt)), SealError::Code::InvalidText) << text;
}

TEST_F(SealingTest, SelfTestProvesEveryStep)
{
    auto record = m_sealer.seSeal(passphrase, Binding::None);
    EXPECT_EQ(m_sealer.seSelfTest(), (Json { { "available", true }, { "roundTrip", true }, { "noPlaintext", true }, { "tamperRejected", true }, { "otherKeyRejected", true } }));
    m_keyring.answer = FakeKeyring::Status::Locked;
    EXPECT_EQ(m_sealer.seSelfTest(), (Json { { "available", false } }));
    EXPECT_EQ(openFailure(m_sealer, record), SealError::Code::Unsupported);
    EXPECT_THROW(m_sealer.seSeal(passphrase, Binding::None), SealError);
}

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
                EXPECT_EQ(keyring.writes, 0);
                EXPECT_EQ(keyring.items, before);
            }
        }
    }
}

TEST(DeviceKeyStore, OnlySealingMakesAKeyOnlyAfterACertainNotFoundAndNeverReplacesOne)
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
    keyring.refuseWrites = true;
    auto refused = store.deviceKey(Access::ReadOrCreate);
    EXPECT_EQ(refused.state, State::Unusable);
    EXPECT_FALSE(refused.key) << "a key that isn't kept would seal records nothing can open";

    // A damaged key is reported, never replaced.
    for (auto stored : { std::string("not base64 !"), base64Encode("too short"), base64Encode(std::string(33, 'e')) }) {
        keyring.items[deviceItem] = stored;
        auto lookup = store.deviceKey(Access::ReadOrCreate);
        EXPECT_EQ(lookup.state, State::Unusable);
        EXPECT_NE(lookup.reason.find("damaged"), std::string::npos);
        EXPECT_EQ(keyring.items.at(deviceItem), stored);
    }
    EXPECT_EQ(keyring.writes, 2) << "only the refused write since";
}


}
}
