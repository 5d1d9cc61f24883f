#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "bridge/CommandTable.h"

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

TEST(BridgeDecoding, RejectsBodiesWithoutAStringCommand)
{
    for (auto body : { Json("hello"), Json(nullptr), Json::array({ "info" }), Json { { "args", "[]" } }, Json { { "cmd", 3 } } })
        EXPECT_FALSE(Bridge::decode(body)) << body.dump();
}

TEST(BridgeDecoding, ArgumentsThatAreNotAJsonArrayBecomeAnEmptyList)
{
    for (auto args : { Json("not json"), Json("{\"a\":1}"), Json("\"text\""), Json(42), Json("[1,") }) {
        auto message = Bridge::decode(Json { { "cmd", "openFolder" }, { "args", args } });
        ASSERT_TRUE(message) << args.dump();
        EXPECT_EQ(message->args, Json::array()) << args.dump();
    }
    auto withoutArgs = Bridge::decode(Json { { "cmd", "info" } });
    ASSERT_TRUE(withoutArgs);
    EXPECT_EQ(withoutArgs->cmd, "info");
    EXPECT_EQ(withoutArgs->args, Json::array());

    auto decoded = Bridge::decode(Json { { "cmd", "clientFolder" }, { "args", R"(["Ana \"A\"","Forms",true])" } });
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->args, Json::parse(R"(["Ana \"A\"","Forms",true])"));
}

TEST(BridgeDecoding, ArgumentsReadAsThePageWroteThem)
{
    // JSON.stringify writes a cut emoji as a lone "\ud83d"; it must not cost the other arguments.
    auto cut = Bridge::decode(Json { { "cmd", "restoreSnapshot" }, { "args", R"(["data-\ud83d.json","\ud83d\ude00",7])" } });
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->args, Json::array({ "data-\xEF\xBF\xBD.json", "\xF0\x9F\x98\x80", 7 }));

    // Nesting far deeper than any page value would exhaust the stack of whoever copies it.
    auto deep = Bridge::decode(Json { { "cmd", "info" }, { "args", std::string(100'000, '[') + std::string(100'000, ']') } });
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->args, Json::array());

    // Text after a NUL is still there to be checked.
    auto withNul = Bridge::decode(Json { { "cmd", std::string("info\0x", 6) }, { "args", R"(["a\u0000b"])" } });
    ASSERT_TRUE(withNul);
    EXPECT_EQ(withNul->cmd, std::string("info\0x", 6));
    EXPECT_EQ(str(withNul->args, 0), std::string("a\0b", 3));
}

TEST(BridgeReplies, EncodeResultsAsJsonText)
{
    EXPECT_EQ(CommandReply::encode(Json()), "null");
    EXPECT_EQ(CommandReply::encode(true), "true");
    EXPECT_EQ(CommandReply::encode(42), "42");
    EXPECT_EQ(CommandReply::encode("say \"hi\""), R"("say \"hi\"")");
    EXPECT_EQ(Json::parse(CommandReply::encode(Json { { "a", Json::array({ 1, "b" }) } })), (Json { { "a", Json::array({ 1, "b" }) } }));
    // Bytes that are not UTF-8 arrive as U+FFFD instead of spoiling the whole reply.
    EXPECT_EQ(CommandReply::encode(Json::array({ "ok.json", std::string("caf\xe9.json") })), "[\"ok.json\",\"caf\xef\xbf\xbd.json\"]");
}

TEST(BridgeReplies, AnswerExactlyOnce)
{
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
    auto args = Json::parse(R"(["text", 7, true, 2.9, null, 1e300, {"k":"v","n":1}])");
    EXPECT_EQ(str(args, 0), "text");
    EXPECT_EQ(str(args, 1), "");
    EXPECT_EQ(str(args, 4), "");
    EXPECT_EQ(str(args, 99), "");
    EXPECT_EQ(str(Json::object(), 0), "");
    EXPECT_TRUE(booleanArgument(args, 2, false));
    EXPECT_TRUE(booleanArgument(args, 1, true));
    EXPECT_EQ(integerArgument(args, 3, 0), 2);
    EXPECT_EQ(integerArgument(args, 5, 0), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(integerArgument(args, 0, 5), 5);
    EXPECT_DOUBLE_EQ(doubleArgument(args, 1, 30), 7);
    EXPECT_DOUBLE_EQ(doubleArgument(args, 8, 30), 30);
    EXPECT_EQ(dictionaryArgument(args), Json::object());
    auto dictionary = dictionaryArgument(Json::array({ args[6] }));
    EXPECT_EQ(stringField(dictionary, "k"), "v");
    EXPECT_EQ(stringField(dictionary, "n", "x"), "x");
}

TEST_F(BridgeTest, BadMessagesAndUnknownCommandsFail)
{
    EXPECT_EQ(m_harness.receive(Json("hello"))->error, "bad message");
    EXPECT_EQ(m_harness.receive(Json { { "args", "[]" } })->error, "bad message");
    auto unknown = command("Load");
    EXPECT_EQ(unknown->calls, 1);
    EXPECT_EQ(unknown->error, "Unknown command Load");
    // A command name with anything after it is another name, never the command it starts with.
    EXPECT_EQ(command(std::string("clearBackupFolder\0anything", 26))->error, "Unknown command " + std::string("clearBackupFolder\0anything", 26));
    EXPECT_EQ(command("info\xEF\xBF\xBD")->error, "Unknown command info\xEF\xBF\xBD");
}

TEST_F(BridgeTest, TestOnlyCommandsExistOnlyInASelfTest)
{
    EXPECT_EQ(command("clipText")->error, "Unknown command clipText");
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

TEST_F(BridgeTest, SaveAndLoadGoThroughTheStore)
{
    auto document = Json { { "clients", Json::array({ Json { { "name", "Zoë" } } }) } };
    auto saved = command("save", Json::array({ document.dump() }));
    EXPECT_EQ(saved->result, "true");
    EXPECT_EQ(command("load")->result, document.dump());

    auto refused = command("save", Json::array({ R"({"enc":true,"v":2,"people":[]})" }));
    EXPECT_EQ(refused->error, "Quillpost didn't save, because the saved copy would not open again. Your data is unchanged.");
    EXPECT_EQ(command("load")->result, document.dump());
}

TEST_F(BridgeTest, SaveTakesTheTextUploadedThroughTheByteChannelOnce)
{
    auto& channel = m_harness.bridge().byteChannel();
    const auto upload = [&](const std::string& text) {
        return channel.answer({ std::string(ByteChannel::addressPrefix), "POST", text }).body;
    };
    const std::string document = R"({"version":2,"clients":[{"id":"a","name":"Zoë"}]})";
    const std::string address = upload(document);
    EXPECT_EQ(command("save", Json::array({ address }))->result, "true");
    EXPECT_EQ(command("load")->result, document);

    // In pieces, put together in the order given; a cut inside a character is no matter.
    const std::string later = R"({"version":2,"clients":[{"id":"b","name":"Zoë Ng"}]})";
    const std::size_t cut = later.find("\xC3") + 1;
    const std::string pieces = upload(later.substr(0, 10)) + " " + upload(later.substr(10, cut - 10)) + " " + upload(later.substr(cut));
    EXPECT_EQ(command("save", Json::array({ pieces }))->result, "true");
    EXPECT_EQ(command("load")->result, later);

    // Used, unknown or damaged: nothing is saved and the page hears why.
    const std::string broken = upload(R"({"clients":[)");
    const std::string oneMissing = upload(R"({"version":2,)") + " " + address;
    const std::string trailingSpace = upload(later) + " ";
    for (const auto& given : { address, std::string(ByteChannel::addressPrefix) + "0123456789abcdef0123456789abcdef", broken, oneMissing, trailingSpace }) {
        auto answer = command("save", Json::array({ given }));
        EXPECT_FALSE(answer->result) << given;
        EXPECT_TRUE(answer->error && !answer->error->empty()) << given;
        EXPECT_EQ(command("load")->result, later) << given;
    }
}

TEST_F(BridgeTest, InfoReportsTheDataFileAndSettings)
{
    auto info = command("info")->json();
    std::set<std::string> keys;
    for (auto it = info.begin(); it != info.end(); ++it)
        keys.insert(it.key());
    EXPECT_EQ(keys, (std::set<std::string> { "dataFile", "backupFolder", "drive", "docsRoot", "docsIsDrive", "driveDetected", "backupError", "snapshots", "platform", "native", "version" }));
    EXPECT_EQ(info["dataFile"], (dataDir() / "data.json").string());
    EXPECT_EQ(info["backupFolder"], "");
    EXPECT_EQ(info["docsIsDrive"], false);
    EXPECT_EQ(info["docsRoot"], (dataDir() / "Clients").string());
    EXPECT_EQ(info["snapshots"], 0);
    EXPECT_EQ(info["platform"], "linux");
    EXPECT_EQ(info["native"], "cpp");
}

TEST_F(BridgeTest, OpenDataFolderRevealsTheDataFileOnceItExists)
{
    command("openDataFolder");
    command("save", Json::array({ "{}" }));
    command("openDataFolder");
    ASSERT_EQ(m_harness.workspace.revealed.size(), 2u);
    EXPECT_EQ(m_harness.workspace.revealed[0], dataDir());
    EXPECT_EQ(m_harness.workspace.revealed[1], dataDir() / "data.json");
}

TEST_F(BridgeTest, ChoosingABackupFolderAnswersWhenThePanelCloses)
{
    auto& panels = m_harness.panels;
    auto& clock = m_harness.clock;
    auto& store = m_harness.store();
    auto cancelled = command("chooseBackupFolder");
    EXPECT_EQ(cancelled->calls, 0);
    EXPECT_EQ(panels.titles.back(), "Choose a backup folder (e.g. inside iCloud Drive or OneDrive)");
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

TEST_F(BridgeTest, RestoreFailuresSayInvalidSnapshot)
{
    EXPECT_EQ(command("restoreSnapshot")->error, "Invalid snapshot");
    EXPECT_EQ(command("restoreSnapshot", Json::array({ "../data.json" }))->error, "Invalid snapshot");
    EXPECT_EQ(command("restoreSnapshot", Json::array({ "data-2024-05-01.json" }))->error, "Invalid snapshot");
    EXPECT_EQ(command("recoveryCopy")->result, "null");
    EXPECT_EQ(command("listSnapshots")->result, "[]");
    EXPECT_EQ(command("backupCandidates")->result, "[]");
}

}
}
