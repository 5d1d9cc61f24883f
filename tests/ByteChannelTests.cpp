#include "bridge/ByteChannel.h"
#include "common/Base64.h"
#include "doubles/CommandHarness.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using namespace std::chrono_literals;

std::string largeBytes(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t index = 0; index < size; ++index)
        bytes[index] = static_cast<char>((index * 7919) >> 3);
    return bytes;
}

SchemeResponse fetch(ByteChannel& channel, const std::string& address)
{
    return channel.answer({ address, "GET", {} });
}

TEST(ByteChannel, OfferedBytesAreServedOnceUntilTheyExpire)
{
    VirtualClock clock;
    ByteChannel channel(clock);
    const std::string bytes = largeBytes(100'000);
    const std::string address = channel.offer(std::string(bytes));
    const std::string other = channel.offer(std::string("other"));
    ASSERT_TRUE(ByteChannel::isAddress(address));
    EXPECT_EQ(address.size(), ByteChannel::addressPrefix.size() + 32);
    EXPECT_NE(address, other);

    const SchemeResponse served = fetch(channel, address + "?again");
    EXPECT_EQ(served.status, 200);
    EXPECT_EQ(served.body, bytes);
    EXPECT_EQ(served.headers.at("Access-Control-Allow-Origin"), "*");
    EXPECT_EQ(fetch(channel, address).status, 404);

    clock.advance(ByteChannel::lifetime);
    EXPECT_EQ(fetch(channel, other).status, 404);
    EXPECT_EQ(fetch(channel, std::string(ByteChannel::addressPrefix) + std::string(32, '0')).status, 404);
    EXPECT_EQ(channel.answer({ address, "DELETE", {} }).status, 405);
}

TEST(ByteChannel, UploadsAreTakenOnceUntilTheyExpireAndWithinTheirLimit)
{
    VirtualClock clock;
    ByteChannel channel(clock, 1000);
    const std::string prefix(ByteChannel::addressPrefix);
    const SchemeResponse stored = channel.answer({ prefix, "POST", std::string("a\0b", 3) });
    ASSERT_EQ(stored.status, 200);
    ASSERT_TRUE(ByteChannel::isAddress(stored.body));
    EXPECT_EQ(channel.take(stored.body), std::string("a\0b", 3));
    EXPECT_EQ(channel.take(stored.body), std::nullopt);
    // Uploads are taken by commands, never fetched back.
    EXPECT_EQ(fetch(channel, channel.answer({ prefix, "POST", "x" }).body).status, 404);

    const std::string expiring = channel.answer({ prefix, "POST", "late" }).body;
    clock.advance(ByteChannel::lifetime + 1s);
    EXPECT_EQ(channel.take(expiring), std::nullopt);

    EXPECT_EQ(channel.answer({ prefix, "POST", std::string(900, 'x') }).status, 200);
    EXPECT_EQ(channel.answer({ prefix, "POST", std::string(200, 'y') }).status, 413);
    EXPECT_EQ(channel.answer({ prefix + "chosen", "POST", "z" }).status, 405);
}

// The page receives the same bytes either way, and sends them either way.
TEST(ByteChannel, CommandsGiveAndTakeTheSameBytesAsThroughBase64)
{
    CommandHarness harness;
    const std::string bytes = largeBytes(300'000);
    auto viaBase64 = harness.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "fileName", "a.pdf" }, { "bytes", base64Encode(bytes) } } }));
    const SchemeResponse uploaded = harness.bridge().byteChannel().answer({ std::string(ByteChannel::addressPrefix), "POST", bytes });
    auto viaChannel = harness.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "fileName", "b.pdf" }, { "bytes", uploaded.body } } }));
    ASSERT_TRUE(viaBase64->result && viaChannel->result) << viaChannel->error.value_or("");
    EXPECT_EQ(readText(viaChannel->json()["path"].get<std::string>()), bytes);
    // A used address is no longer bytes.
    EXPECT_EQ(harness.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "fileName", "c.pdf" }, { "bytes", uploaded.body } } }))->error, "bad document");

    const Json path = viaBase64->json()["path"];
    auto plain = harness.send("readDocument", Json::array({ path }));
    auto channelled = harness.sendViaChannel("readDocument", Json::array({ path }));
    harness.clock.runBackground();
    harness.clock.runPosted();
    ASSERT_TRUE(plain->result && channelled->result);
    EXPECT_EQ(base64Decode(plain->json().get<std::string>()), bytes);
    const std::string address = channelled->json().get<std::string>();
    ASSERT_TRUE(ByteChannel::isAddress(address));
    EXPECT_EQ(fetch(harness.bridge().byteChannel(), address).body, bytes);

    // Small bytes stay Base64 even when the page would take the channel.
    auto small = harness.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "fileName", "s.pdf" }, { "bytes", base64Encode("%PDF-1.4 small") } } }));
    auto smallBack = harness.sendViaChannel("readDocument", Json::array({ small->json()["path"] }));
    harness.clock.runBackground();
    harness.clock.runPosted();
    EXPECT_EQ(smallBack->json(), base64Encode("%PDF-1.4 small"));
}

}
}
