#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "bridge/ByteChannel.h"
#include "bridge/CommandTable.h"
#include "common/Base64.h"
#include "common/Deflate.h"
#include "doubles/CommandHarness.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <zlib.h>

namespace quillpost {
namespace {

using namespace std::chrono_literals;

TEST(BridgeMessages, AreReadAsThePageWroteThemAndAnsweredExactlyOnceInValidJsonText)
{
    for (auto body : { Json("hello"), Json(nullptr), Json::array({ "info" }), Json { { "args", "[]" } }, Json { { "cmd", 3 } } })
        EXPECT_FALSE(Bridge::decode(body)) << body.dump();

    const std::string withNul("info\0x", 6);
    const std::pair<Json, Json> cases[] = {
        { Json("not json"), Json::array() }, { Json("{\"a\":1}"), Json::array() }, { Json(42), Json::array() }, { Json("[1,"), Json::array() },
        { Json(), Json::array() }, { R"(["Ana \"A\"","Forms",true])", Json::array({ "Ana \"A\"", "Forms", true }) },
        // JSON.stringify writes a cut emoji as a lone "\ud83d"; it must not cost the other arguments.
        { R"(["data-\ud83d.json","\ud83d\ude00",7])", Json::array({ "data-\xEF\xBF\xBD.json", "\xF0\x9F\x98\x80", 7 }) },
        // Nesting far deeper than any page value would exhaust the stack of whoever copies it.
        { std::string(100'000, '[') + std::string(100'000, ']'), Json::array() },
        { R"(["a\u0000b"])", Json::array({ std::string("a\0b", 3) }) },
    };
    for (const auto& [args, expected] : cases) {
        Json body { { "cmd", withNul } };
        if (!args.is_null())
            body["args"] = args;
        auto message = Bridge::decode(body);
        ASSERT_TRUE(message) << args.dump();
        EXPECT_EQ(message->cmd, withNul) << "text after a NUL is still there to be checked";
        EXPECT_EQ(message->args, expected) << args.dump();
    }

    // Bytes that are not UTF-8 arrive as U+FFFD instead of spoiling the whole reply.
    EXPECT_EQ(CommandReply::encode(Json::array({ "say \"hi\"", std::string("caf\xe9.json") })), "[\"say \\\"hi\\\"\",\"caf\xef\xbf\xbd.json\"]");

    auto answer = std::make_shared<CommandAnswer>();
    auto forgotten = std::make_shared<CommandAnswer>();
    {
        CommandReply reply(recordInto(answer));
        auto copy = reply;
        copy.reply(RawJSON { "{\"kept\":  true}" });
        reply.fail("too late");
        reply.reply(1);
        CommandReply never(recordInto(forgotten));
    }
    EXPECT_EQ(answer->calls, 1);
    EXPECT_EQ(answer->result, "{\"kept\":  true}");
    EXPECT_FALSE(answer->error);
    EXPECT_EQ(forgotten->calls, 1);
    EXPECT_TRUE(forgotten->error);
}

TEST(BridgeArguments, ReadWithTypeChecksAndDefaults)
{
    auto args = Json::parse(R"(["text", 7, true, 2.9, null, 1e300, {"k":"v","n":1}, -1e300, 9300000000000000000])");
    const auto max = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(str(args, 0), "text");
    for (std::size_t index : { 1, 4, 99 })
        EXPECT_EQ(str(args, index), "") << index;
    EXPECT_EQ(str(Json::object(), 0), "");
    EXPECT_TRUE(booleanArgument(args, 2, false));
    EXPECT_TRUE(booleanArgument(args, 1, true));
    for (auto [index, expected] : std::vector<std::pair<std::size_t, std::int64_t>> {
             { 1, 7 }, { 3, 2 }, { 5, max }, { 7, std::numeric_limits<std::int64_t>::min() }, { 8, max }, { 0, 5 }, { 9, 5 } })
        EXPECT_EQ(integerArgument(args, index, 5), expected) << index;
    EXPECT_DOUBLE_EQ(doubleArgument(args, 1, 30), 7);
    EXPECT_DOUBLE_EQ(doubleArgument(args, 0, 30), 30);
    EXPECT_DOUBLE_EQ(doubleArgument(args, 9, 30), 30);
    EXPECT_EQ(dictionaryArgument(args), Json::object());
    auto dictionary = dictionaryArgument(Json::array({ args[6] }));
    EXPECT_EQ(stringField(dictionary, "k"), "v");
    EXPECT_EQ(stringField(dictionary, "n", "x"), "x");
    EXPECT_EQ(stringField(dictionary, "missing", "x"), "x");
}

TEST(BridgeCommands, EveryPageApiCommandIsInTheTableAndNoOtherNameRunsOne)
{
    std::set<std::string> inScript;
    auto script = std::string(pageApiScript());
    std::regex callPattern(R"(call(?:Bytes|WithBytes|Via)?\('([A-Za-z]+)')");
    for (std::sregex_iterator it(script.begin(), script.end(), callPattern), end; it != end; ++it)
        inScript.insert((*it)[1]);

    std::set<std::string> inTable;
    for (auto& entry : commandTable()) {
        EXPECT_TRUE(inTable.insert(std::string(entry.name)).second) << "listed twice: " << entry.name;
        EXPECT_TRUE(entry.run) << entry.name;
    }
    EXPECT_EQ(inScript, inTable);

    CommandHarness harness;
    EXPECT_EQ(harness.receive(Json("hello"))->error, "bad message");
    // A command name with anything after it is another name, never the command it starts with.
    for (const std::string& name : { std::string("Load"), std::string("clearBackupFolder\0anything", 26), std::string("info\xEF\xBF\xBD"), std::string("clipText") }) {
        auto unknown = harness.send(name);
        EXPECT_EQ(unknown->calls, 1);
        EXPECT_EQ(unknown->error, "Unknown command " + name);
    }
    CommandHarness selfTest(true, [](Bridge::Services& services) { services.selfTest = true; });
    EXPECT_NE(selfTest.send("clipText")->error.value_or("Unknown command clipText"), "Unknown command clipText");
}

TEST(BridgeCommands, SaveTakesTheTextGivenOrUploadedThroughTheByteChannelOnce)
{
    CommandHarness harness;
    auto& channel = harness.bridge().byteChannel();
    const auto upload = [&](const std::string& text) { return channel.answer({ std::string(ByteChannel::addressPrefix), "POST", text }).body; };
    const auto saved = [&](const std::string& given, const std::string& loaded) {
        EXPECT_EQ(harness.send("save", Json::array({ given }))->result, "true") << given;
        EXPECT_EQ(harness.send("load")->result, loaded);
    };
    const std::string first = R"({"version":2,"clients":[{"id":"a","name":"Zoë"}]})";
    saved(first, first);
    const std::string document = R"({"version":2,"clients":[{"id":"c","name":"Zoë"}]})";
    const std::string address = upload(document);
    saved(address, document);
    const std::string later = R"({"version":2,"clients":[{"id":"b","name":"Zoë Ng"}]})";
    const std::size_t cut = later.find("\xC3") + 1;
    saved(upload(later.substr(0, 10)) + " " + upload(later.substr(10, cut - 10)) + " " + upload(later.substr(cut)), later);

    const std::string broken = upload(R"({"clients":[)");
    const std::string oneMissing = upload(R"({"version":2,)") + " " + address;
    const std::string trailingSpace = upload(later) + " ";
    for (const auto& given : { address, std::string(ByteChannel::addressPrefix) + "0123456789abcdef0123456789abcdef", broken, oneMissing,
             trailingSpace, std::string(R"({"enc":true,"v":2,"people":[]})") }) {
        EXPECT_FALSE(harness.send("save", Json::array({ given }))->error.value_or("").empty()) << given;
        EXPECT_EQ(harness.send("load")->result, later) << given;
    }

    EXPECT_EQ(base64Decode(harness.sendViaChannel("loadText")->json().get<std::string>()), later);
    const std::string large = R"({"version":2,"notes":")" + std::string(100000, 'x') + R"("})";
    saved(large, large);
    EXPECT_EQ(channel.answer({ harness.sendViaChannel("loadText")->json().get<std::string>(), "GET", "" }).body, large);

    // Asked for deflated, the bytes are in the zlib format that the page's DecompressionStream("deflate") takes.
    const Json packed = harness.sendViaChannel("loadText", Json::array({ "deflate" }))->json();
    ASSERT_EQ(packed.value("encoding", ""), "deflate");
    const std::string bytes = base64Decode(packed.value("bytes", "")).value_or("");
    std::string inflated(large.size() + 1, '\0');
    uLongf size = inflated.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(inflated.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()), Z_OK);
    EXPECT_EQ(inflated.substr(0, size), large);
    EXPECT_LT(bytes.size(), large.size() / 20);

    // Compressed in pieces on several threads, the pieces join into one stream with one checksum,
    // wherever they cut (here inside a two-byte character), and however few bytes there are.
    std::string varied;
    for (int line = 0; varied.size() < 300000; ++line)
        varied += "{\"id\":\"" + std::to_string(line * 7919 % 100003) + "\",\"name\":\"Zo\xC3\xAB\"},";
    for (const auto& [text, pieces] : std::vector<std::pair<std::string, std::size_t>> { { varied, 2 }, { varied, 7 }, { "ab", 5 }, { "", 3 } }) {
        const std::string packedText = deflatedInPieces(text, pieces);
        std::string back(text.size() + 1, '\0');
        uLongf backSize = back.size();
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(back.data()), &backSize, reinterpret_cast<const Bytef*>(packedText.data()), packedText.size()), Z_OK) << pieces;
        EXPECT_EQ(back.substr(0, backSize), text) << pieces;
    }
}

TEST(BridgeCommands, InfoBackupFolderAndRestoreActOnTheStore)
{
    CommandHarness harness;
    const std::filesystem::path data = harness.path("data");
    auto info = harness.send("info")->json();
    EXPECT_EQ(std::pair(info["dataFile"], info["docsRoot"]), std::pair(Json((data / "data.json").string()), Json((data / "Clients").string())));
    for (const Json& args : { Json::array(), Json::array({ "../data.json" }), Json::array({ "data-2024-05-01.json" }) })
        EXPECT_EQ(harness.send("restoreSnapshot", args)->error, "Invalid snapshot") << args.dump();
    harness.send("openDataFolder");
    harness.send("save", Json::array({ R"({"clients":[]})" }));
    harness.send("openDataFolder");
    EXPECT_EQ(harness.workspace.revealed, (std::vector<std::filesystem::path> { data, data / "data.json" }));

    const std::string backups = (data / "backups").string();
    using Answer = std::optional<std::string>;
    const std::tuple<Answer, Answer, Answer> choices[] = {
        { std::nullopt, "null", std::nullopt }, { backups, Json(backups).dump(), backups }, { "/media/caf\xE9", std::nullopt, backups },
    };
    for (const auto& [answer, result, setting] : choices) {
        auto chosen = harness.send("chooseBackupFolder");
        EXPECT_EQ(chosen->calls, 0);
        harness.panels.answer(answer);
        EXPECT_EQ(std::pair(chosen->calls, chosen->result), std::pair(1, result));
        EXPECT_EQ(harness.store().configString("backupFolder"), setting);
    }
    EXPECT_EQ(harness.send("clearBackupFolder")->result, "true");
    EXPECT_EQ(harness.send("info")->json()["backupFolder"], "");
}

TEST(ByteChannel, OfferedBytesAreServedAndUploadsTakenOnceUntilTheyExpireAndWithinTheirLimit)
{
    VirtualClock clock;
    ByteChannel channel(clock, 1000);
    const std::string address = channel.offer(std::string(100'000, 'b'));
    const std::string other = channel.offer(std::string("other"));
    ASSERT_TRUE(ByteChannel::isAddress(address));
    EXPECT_NE(address, other);
    const SchemeResponse served = channel.answer({ address + "?again", "GET", {} });
    EXPECT_EQ(served.status, 200);
    EXPECT_EQ(served.body, std::string(100'000, 'b')) << "what is offered is not held to the upload limit";
    EXPECT_EQ(served.headers.at("Access-Control-Allow-Origin"), "*");
    EXPECT_EQ(channel.answer({ address, "GET", {} }).status, 404);
    EXPECT_EQ(channel.answer({ address, "DELETE", {} }).status, 405);

    const std::string prefix(ByteChannel::addressPrefix);
    const SchemeResponse stored = channel.answer({ prefix, "POST", std::string("a\0b", 3) });
    ASSERT_EQ(stored.status, 200);
    ASSERT_TRUE(ByteChannel::isAddress(stored.body));
    EXPECT_EQ(channel.take(stored.body), std::string("a\0b", 3));
    EXPECT_EQ(channel.take(stored.body), std::nullopt);
    EXPECT_EQ(channel.answer({ channel.answer({ prefix, "POST", "x" }).body, "GET", {} }).status, 404);
    const std::string expiring = channel.answer({ prefix, "POST", "late" }).body;
    clock.advance(ByteChannel::lifetime);
    EXPECT_EQ(channel.take(expiring), std::nullopt);
    EXPECT_EQ(channel.answer({ other, "GET", {} }).status, 404);
    EXPECT_EQ(channel.answer({ prefix, "POST", std::string(900, 'x') }).status, 200);
    EXPECT_EQ(channel.answer({ prefix, "POST", std::string(100, 'y') }).status, 200) << "exactly the limit";
    EXPECT_EQ(channel.answer({ prefix, "POST", "z" }).status, 413);
    EXPECT_EQ(channel.answer({ prefix + "chosen", "POST", "z" }).status, 405);
}

}
}
