#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "bridge/CommandTable.h"
#include "common/Base64.h"

#include "doubles/CommandHarness.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace quillpost {
namespace {

class BridgeTest : public testing::Test {
protected:
    std::shared_ptr<CommandAnswer> command(const std::string& cmd, const Json& args = Json::array()) { return m_harness.send(cmd, args); }
    std::filesystem::path dataDir() const { return m_harness.path("data"); }

    CommandHarness m_harness;
};

TEST(BridgeDecoding, ReadsTheCommandAndItsArgumentsAsThePageWroteThem)
{
    for (auto body : { Json("hello"), Json(nullptr), Json::array({ "info" }), Json { { "args", "[]" } }, Json { { "cmd", 3 } } })
        EXPECT_FALSE(Bridge::decode(body)) << body.dump();

    const std::string withNul("info\0x", 6);
    const struct {
        Json args;
        Json expected;
    } cases[] = {
        { Json("not json"), Json::array() },
        { Json("{\"a\":1}"), Json::array() },
        { Json(42), Json::array() },
        { Json("[1,"), Json::array() },
        { Json(), Json::array() },
        { R"(["Ana \"A\"","Forms",true])", Json::array({ "Ana \"A\"", "Forms", true }) },
        // JSON.stringify writes a cut emoji as a lone "\ud83d"; it must not cost the other arguments.
        { R"(["data-\ud83d.json","\ud83d\ude00",7])", Json::array({ "data-\xEF\xBF\xBD.json", "\xF0\x9F\x98\x80", 7 }) },
        // Nesting far deeper than any page value would exhaust the stack of whoever copies it.
        { std::string(100'000, '[') + std::string(100'000, ']'), Json::array() },
        { R"(["a\u0000b"])", Json::array({ std::string("a\0b", 3) }) },
    };
    for (const auto& test : cases) {
        Json body { { "cmd", withNul } };
        if (!test.args.is_null())
            body["args"] = test.args;
        auto message = Bridge::decode(body);
        ASSERT_TRUE(message) << test.args.dump();
        EXPECT_EQ(message->cmd, withNul) << "text after a NUL is still there to be checked";
        EXPECT_EQ(message->args, test.expected) << test.args.dump();
    }
}

TEST(BridgeReplies, AnswerExactlyOnceInValidJsonText)
{
    // Bytes that are not UTF-8 arrive as U+FFFD instead of spoiling the whole reply.
    EXPECT_EQ(CommandReply::encode(Json::array({ "say \"hi\"", std::string("caf\xe9.json") })), "[\"say \\\"hi\\\"\",\"caf\xef\xbf\xbd.json\"]");

    auto answer = std::make_shared<CommandAnswer>();
    {
        CommandReply reply(recordInto(answer));
        auto copy = reply;
        copy.reply(RawJSON { "{\"kept\":  true}" });
        reply.fail("too late");
        reply.reply(1);
    }
    EXPECT_EQ(answer->calls, 1);
    EXPECT_EQ(answer->result, "{\"kept\":  true}");
    EXPECT_FALSE(answer->error);

    auto forgotten = std::make_shared<CommandAnswer>();
    { CommandReply reply(recordInto(forgotten)); }
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

TEST_F(BridgeTest, BadMessagesUnknownAndTestOnlyCommandsFail)
{
    EXPECT_EQ(m_harness.receive(Json("hello"))->error, "bad message");
    // A command name with anything after it is another name, never the command it starts with.
    for (const std::string& name : { std::string("Load"), std::string("clearBackupFolder\0anything", 26), std::string("info\xEF\xBF\xBD"), std::string("clipText") }) {
        auto unknown = command(name);
        EXPECT_EQ(unknown->calls, 1);
        EXPECT_EQ(unknown->error, "Unknown command " + name);
    }
    CommandHarness selfTest(true, [](Bridge::Services& services) { services.selfTest = true; });
    auto inSelfTest = selfTest.send("clipText");
    ASSERT_TRUE(inSelfTest->error);
    EXPECT_NE(*inSelfTest->error, "Unknown command clipText");
}

TEST_F(BridgeTest, EveryPageApiCommandIsInTheTableAndEveryCommandReachesThePage)
{
    std::set<std::string> inScript;
    auto script = std::string(pageApiScript());
    std::regex callPattern(R"(call(?:Bytes|WithBytes)?\('([A-Za-z]+)')");
    for (std::sregex_iterator it(script.begin(), script.end(), callPattern), end; it != end; ++it)
        inScript.insert((*it)[1]);

    std::set<std::string> inTable;
    for (auto& entry : commandTable()) {
        EXPECT_TRUE(inTable.insert(std::string(entry.name)).second) << "listed twice: " << entry.name;
        EXPECT_TRUE(entry.run) << entry.name;
    }
    EXPECT_EQ(inScript, inTable);
}

TEST_F(BridgeTest, SaveTakesTheTextGivenOrUploadedThroughTheByteChannelOnce)
{
    auto& channel = m_harness.bridge().byteChannel();
    const auto upload = [&](const std::string& text) {
        return channel.answer({ std::string(ByteChannel::addressPrefix), "POST", text }).body;
    };
    const std::string first = R"({"version":2,"clients":[{"id":"a","name":"Zoë"}]})";
    EXPECT_EQ(command("save", Json::array({ first }))->result, "true");
    EXPECT_EQ(command("load")->result, first);
    const std::string document = R"({"version":2,"clients":[{"id":"c","name":"Zoë"}]})";
    const std::string address = upload(document);
    EXPECT_EQ(command("save", Json::array({ address }))->result, "true");
    EXPECT_EQ(command("load")->result, document);

    // In pieces, put together in the order given; a cut inside a character is no matter.
    const std::string later = R"({"version":2,"clients":[{"id":"b","name":"Zoë Ng"}]})";
    const std::size_t cut = later.find("\xC3") + 1;
    const std::string pieces = upload(later.substr(0, 10)) + " " + upload(later.substr(10, cut - 10)) + " " + upload(later.substr(cut));
    EXPECT_EQ(command("save", Json::array({ pieces }))->result, "true");
    EXPECT_EQ(command("load")->result, later);

    // Used, unknown, damaged or a copy that would not open again: nothing is saved and the page hears why.
    const std::string broken = upload(R"({"clients":[)");
    const std::string oneMissing = upload(R"({"version":2,)") + " " + address;
    const std::string trailingSpace = upload(later) + " ";
    for (const auto& given : { address, std::string(ByteChannel::addressPrefix) + "0123456789abcdef0123456789abcdef", broken, oneMissing,
             trailingSpace, std::string(R"({"enc":true,"v":2,"people":[]})") }) {
        auto answer = command("save", Json::array({ given }));
        EXPECT_FALSE(answer->result) << given;
        EXPECT_TRUE(answer->error && !answer->error->empty()) << given;
        EXPECT_EQ(command("load")->result, later) << given;
    }

    // loadText gives the same text as bytes: Base64 when small, a one-time address when large.
    EXPECT_EQ(base64Decode(m_harness.sendViaChannel("loadText")->json().get<std::string>()), later);
    const std::string large = R"({"version":2,"notes":")" + std::string(100000, 'x') + R"("})";
    EXPECT_EQ(command("save", Json::array({ large }))->result, "true");
    const auto offered = m_harness.sendViaChannel("loadText")->json().get<std::string>();
    EXPECT_EQ(channel.answer({ offered, "GET", "" }).body, large);
}

TEST_F(BridgeTest, InfoAndTheDataFolderPointAtTheStore)
{
    auto info = command("info")->json();
    EXPECT_EQ(info["dataFile"], (dataDir() / "data.json").string());
    EXPECT_EQ(info["docsRoot"], (dataDir() / "Clients").string());
    EXPECT_EQ(info["docsIsDrive"], false);

    command("openDataFolder");
    command("save", Json::array({ "{}" }));
    command("openDataFolder");
    EXPECT_EQ(m_harness.workspace.revealed, (std::vector<std::filesystem::path> { dataDir(), dataDir() / "data.json" }));
}

TEST_F(BridgeTest, ChoosingABackupFolderAnswersWhenThePanelCloses)
{
    auto& panels = m_harness.panels;
    auto& clock = m_harness.clock;
    auto& store = m_harness.store();
    auto cancelled = command("chooseBackupFolder");
    EXPECT_EQ(cancelled->calls, 0);
    panels.answer(std::nullopt);
    EXPECT_EQ(cancelled->result, "null");

    command("save", Json::array({ R"({"clients":[]})" }));
    clock.advance(std::chrono::seconds(2));
    clock.runBackground();

    auto folder = dataDir() / "backups";
    auto chosen = command("chooseBackupFolder");
    panels.answer(folder.string());
    EXPECT_EQ(chosen->result, Json(folder.string()).dump());
    EXPECT_EQ(store.configString("backupFolder"), folder.string());

    // The new folder receives the current data without waiting for the next save.
    clock.advance(std::chrono::milliseconds(1500));
    clock.runBackground();
    clock.runPosted();
    EXPECT_TRUE(std::filesystem::exists(folder / "Quillpost-backup.json"));

    auto unstorable = command("chooseBackupFolder");
    panels.answer(std::string("/media/caf\xE9"));
    EXPECT_TRUE(unstorable->error);
    EXPECT_EQ(store.configString("backupFolder"), folder.string());

    EXPECT_EQ(command("clearBackupFolder")->result, "true");
    EXPECT_FALSE(store.configString("backupFolder"));
    EXPECT_EQ(command("info")->json()["backupFolder"], "");
}

TEST_F(BridgeTest, RestoreRefusesAnythingButAStoredSnapshot)
{
    for (const Json& args : { Json::array(), Json::array({ "../data.json" }), Json::array({ "data-2024-05-01.json" }) })
        EXPECT_EQ(command("restoreSnapshot", args)->error, "Invalid snapshot") << args.dump();
}

}
}
