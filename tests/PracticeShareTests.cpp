#include "share/PracticeShare.h"

#include "doubles/FakePracticeDatabase.h"
#include "doubles/SecretDoubles.h"
#include "doubles/ShareServices.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"

#include <gtest/gtest.h>

#include <set>

namespace quillpost {

namespace {

using namespace std::chrono_literals;

const ServerAddress office { "db.office.example", 5432, "practice", "clerk" };

Json client(const std::string& id, const std::string& name, const std::string& phone = "")
{
    Json record { { "id", id }, { "name", name } };
    if (!phone.empty())
        record["phone"] = phone;
    return record;
}

Json practice(std::vector<Json> clients)
{
    return { { "version", 3 }, { "clients", clients }, { "files", Json::array() }, { "settings", { { "billing", { { "rate", 100 } } } } } };
}

// One desk: its data folder, keyring and connection to the shared fake server, and a page that
// applies what it is given and saves it the way the page's autosave does.
struct Desk {
    Desk(std::shared_ptr<FakePracticeDatabase::Server> shared, VirtualClock& virtualClock, Json document)
        : clock(virtualClock)
        , server(shared)
        , connection(shared)
    {
        writeText(folder / "data.json", document.dump());
        share = make();
    }

    std::unique_ptr<PracticeShare> make()
    {
        auto made = std::make_unique<PracticeShare>(testShareServices(folder.path(), server, keyring, clock, [this] {
            ++safetyCopies;
            return safetyCopyWorks;
        }));
        made->deliver = [this](const Json& changes) { given.push_back(changes); };
        made->stateChanged = [this](const Json& status) { states.push_back(status["state"]); };
        return made;
    }

    std::optional<std::string> start(PracticeShare::Mode mode, const std::string& password = "secret")
    {
        std::optional<std::string> outcome = "no answer";
        share->start(office, password, mode, [&](std::optional<std::string> error) { outcome = error; });
        clock.runBackground();
        clock.runPosted();
        return outcome;
    }

    std::chrono::milliseconds sync()
    {
        auto wait = share->step(connection, true);
        clock.runPosted();
        return wait;
    }

    Json document() const { return Json::parse(readText(folder / "data.json")); }
    void save(const Json& document) { writeText(folder / "data.json", document.dump()); }

    // The page: each change replaces or removes its item, then the whole document is saved.
    void applyGiven()
    {
        Json data = document();
        for (auto& batch : std::exchange(given, {})) {
            for (auto& change : batch["changes"]) {
                const std::string collection = change["collection"];
                if (collection == "settings") {
                    data["settings"] = change["record"];
                    continue;
                }
                auto& list = data[collection];
                auto item = std::find_if(list.begin(), list.end(), [&](const Json& entry) { return entry["id"] == change["id"]; });
                if (item != list.end())
                    list.erase(item);
                if (!change["record"].is_null())
                    list.push_back(change["record"]);
            }
        }
        save(data);
    }

    Json clientRecord(const std::string& id) const
    {
        const Json data = document();
        for (auto& item : data["clients"]) {
            if (item["id"] == id)
                return item;
        }
        return nullptr;
    }

    VirtualClock& clock;
    TemporaryFolder folder;
    FakeKeyring keyring;
    std::shared_ptr<FakePracticeDatabase::Server> server;
    FakePracticeDatabase connection;
    std::vector<Json> given;
    std::vector<Json> states;
    int safetyCopies { 0 };
    bool safetyCopyWorks { true };
    std::unique_ptr<PracticeShare> share;
};

class PracticeShareTest : public testing::Test {
protected:
    VirtualClock clock;
    std::shared_ptr<FakePracticeDatabase::Server> server = std::make_shared<FakePracticeDatabase::Server>();

    Json serverBody(const std::string& collection, const std::string& id) { return server->rows.at({ collection, id }).body; }

    // A desk that uploaded Ada and Bob, and a second desk that joined it and saved what it was given.
    std::pair<std::unique_ptr<Desk>, std::unique_ptr<Desk>> twoDesks()
    {
        auto first = std::make_unique<Desk>(server, clock, practice({ client("c1", "Ada", "1"), client("c2", "Bob") }));
        EXPECT_EQ(first->start(PracticeShare::Mode::Upload), std::nullopt);
        first->sync();
        return { std::move(first), joinedDesk() };
    }

    // One more desk joining the same practice, with what it was given saved.
    std::unique_ptr<Desk> joinedDesk()
    {
        auto desk = std::make_unique<Desk>(server, clock, practice({}));
        EXPECT_EQ(desk->start(PracticeShare::Mode::Join), std::nullopt);
        desk->sync();
        desk->applyGiven();
        desk->sync();
        return desk;
    }

    static Json withName(Json data, const std::string& clientId, const std::string& name)
    {
        for (auto& item : data["clients"])
            if (item["id"] == clientId)
                item["name"] = name;
        return data;
    }
};

}

TEST_F(PracticeShareTest, WithNoServerSetUpNothingRunsAndNothingIsWritten)
{
    Desk desk(server, clock, practice({ client("c1", "Ada") }));
    desk.share->resume();
    desk.share->dataSaved();
    clock.runPosted();
    EXPECT_EQ(desk.share->status()["state"], "off");
    EXPECT_EQ(desk.share->status()["enabled"], false);
    EXPECT_FALSE(std::filesystem::exists(desk.folder / "sync-state.json"));
    EXPECT_EQ(server->connects, 0);
    EXPECT_TRUE(desk.keyring.items.empty());
}

TEST_F(PracticeShareTest, UploadThenJoinGivesTheSecondDeskThePracticeAndKeepsItsOwnDataSafe)
{
    Desk first(server, clock, practice({ client("c1", "Ada"), client("c2", "Bob") }));
    ASSERT_EQ(first.start(PracticeShare::Mode::Upload), std::nullopt);
    EXPECT_EQ(first.keyring.items.at({ PracticeShare::keyringService, "clerk@db.office.example:5432/practice" }), "secret");
    EXPECT_EQ(readText(first.folder / "sync-state.json").find("secret"), std::string::npos);
    EXPECT_EQ(first.sync(), 0ms);
    EXPECT_EQ(first.share->status()["state"], "connected");
    EXPECT_EQ(server->rows.size(), 3u);
    EXPECT_EQ(serverBody("clients", "c2")["name"], "Bob");
    EXPECT_TRUE(first.given.empty());

    // A second upload to the same server is refused.
    Desk other(server, clock, practice({ client("c7", "Other") }));
    EXPECT_EQ(other.start(PracticeShare::Mode::Upload), "The server already holds a shared practice: on this desk, use the shared practice instead of uploading this one.");
    EXPECT_FALSE(std::filesystem::exists(other.folder / "sync-state.json"));

    Desk second(server, clock, practice({ client("c9", "Local only") }));
    ASSERT_EQ(second.start(PracticeShare::Mode::Join), std::nullopt);
    EXPECT_EQ(second.safetyCopies, 1);
    second.sync();
    second.applyGiven();
    EXPECT_EQ(second.clientRecord("c1")["name"], "Ada");
    EXPECT_EQ(second.clientRecord("c2")["name"], "Bob");
    EXPECT_TRUE(second.clientRecord("c9").is_null());
    EXPECT_EQ(second.document()["settings"]["billing"]["rate"], 100);

    // Saving what it was given sends nothing back.
    const int writes = server->writes;
    second.sync();
    EXPECT_EQ(server->writes, writes);
    EXPECT_TRUE(second.given.empty());
    EXPECT_FALSE(server->rows.contains({ "clients", "c9" }));
}

TEST_F(PracticeShareTest, StartIsRefusedWithASentence)
{
    Desk desk(server, clock, practice({}));
    EXPECT_EQ(desk.start(PracticeShare::Mode::Upload, "wrong"), "The server refused the password for user clerk.");
    server->reachable = false;
    EXPECT_EQ(desk.start(PracticeShare::Mode::Upload), "No PostgreSQL server answers at db.office.example:5432.");
    server->reachable = true;
    desk.safetyCopyWorks = false;
    EXPECT_EQ(desk.start(PracticeShare::Mode::Join), "No safety copy of this desk's data could be made, so the shared practice wasn't brought in.");
    desk.keyring.refuseWrites = true;
    EXPECT_EQ(desk.start(PracticeShare::Mode::Upload), "The keyring wouldn't keep the server's password, so sharing wasn't turned on.");
    EXPECT_FALSE(std::filesystem::exists(desk.folder / "sync-state.json"));

    desk.keyring.refuseWrites = false;
    writeText(desk.folder / "data.json", R"({"enc":true,"v":2,"people":[{"name":"Practice","salt":"AAAA","priv":{},"dk":{"iv":"AAAA","ct":"AAAA"}}],"iv":"AAAA","ct":"AAAA"})");
    EXPECT_EQ(desk.start(PracticeShare::Mode::Upload), PracticeShare::encryptedRefusal);
    EXPECT_EQ(server->connects, 4);
}

TEST_F(PracticeShareTest, ADeskOfflineKeepsItsChangesAndCatchesUp)
{
    auto [first, second] = twoDesks();
    // The second desk changes the phone while the first is cut off and changes the name.
    auto data = second->document();
    data["clients"][0]["phone"] = "2";
    ASSERT_EQ(data["clients"][0]["id"], "c1");
    second->save(data);
    second->sync();

    server->reachable = false;
    auto mine = first->document();
    mine["clients"][0]["name"] = "Ada Lovelace";
    first->save(mine);
    EXPECT_EQ(first->sync(), 1000ms);
    EXPECT_EQ(first->share->status()["state"], "offline");
    EXPECT_EQ(first->share->status()["lastError"], "The connection to the practice server was lost.");
    EXPECT_EQ(first->share->status()["pending"], 1);
    EXPECT_FALSE(first->share->status()["since"].is_null());
    EXPECT_EQ(first->sync(), 2000ms);
    EXPECT_EQ(first->sync(), 4000ms);

    server->reachable = true;
    EXPECT_EQ(first->sync(), 0ms);
    EXPECT_EQ(first->share->status()["state"], "connected");
    EXPECT_EQ(first->share->status()["lastError"], "");
    EXPECT_EQ(first->share->status()["pending"], 0);
    EXPECT_EQ(serverBody("clients", "c1"), client("c1", "Ada Lovelace", "2"));
    first->applyGiven();
    EXPECT_EQ(first->clientRecord("c1"), client("c1", "Ada Lovelace", "2"));

    second->sync();
    second->applyGiven();
    EXPECT_EQ(second->clientRecord("c1"), client("c1", "Ada Lovelace", "2"));
    EXPECT_EQ(first->document()["clients"].size(), second->document()["clients"].size());
}

TEST_F(PracticeShareTest, AWriteThatLosesARaceIsMergedAndRetried)
{
    auto [first, second] = twoDesks();
    auto mine = first->document();
    mine["clients"][1]["name"] = "Robert";
    first->save(mine);
    // Another desk writes Bob's phone between this desk's pull and its write.
    server->beforeWrite = [&] { server->put("clients", "c2", client("c2", "Bob", "555"), "desk-x"); };
    EXPECT_EQ(first->sync(), 0ms);
    EXPECT_EQ(serverBody("clients", "c2"), client("c2", "Robert", "555"));
    first->applyGiven();
    EXPECT_EQ(first->clientRecord("c2"), client("c2", "Robert", "555"));
}

TEST_F(PracticeShareTest, BothDesksEndWithTheSameWinnerAndTheLoserKept)
{
    auto [first, second] = twoDesks();
    auto one = first->document();
    one["clients"][0]["name"] = "Ada (first)";
    first->save(one);
    auto two = second->document();
    for (auto& item : two["clients"])
        if (item["id"] == "c1")
            item["name"] = "Ada (second)";
    second->save(two);

    second->sync();
    clock.advance(5s);
    first->sync();
    first->applyGiven();
    second->sync();
    second->applyGiven();

    const Json onFirst = first->clientRecord("c1");
    EXPECT_EQ(onFirst, second->clientRecord("c1"));
    EXPECT_EQ(onFirst, serverBody("clients", "c1"));
    EXPECT_EQ(onFirst["name"], "Ada (first)");
    ASSERT_EQ(onFirst["conflicts"].size(), 1u);
    EXPECT_EQ(onFirst["conflicts"][0]["field"], "name");
    EXPECT_EQ(onFirst["conflicts"][0]["value"], "Ada (second)");
    EXPECT_EQ(onFirst["conflicts"][0]["desk"], second->share->status()["desk"]);

    // Settled, nothing more moves.
    const int writes = server->writes;
    first->sync();
    second->sync();
    EXPECT_EQ(server->writes, writes);
    EXPECT_TRUE(first->given.empty());
    EXPECT_TRUE(second->given.empty());
}

TEST_F(PracticeShareTest, ThreeDesksChangingOneFieldKeepBothLosingValues)
{
    auto [first, second] = twoDesks();
    auto third = joinedDesk();
    Desk* desks[] = { first.get(), second.get(), third.get() };
    const char* names[] = { "Name A", "Name B", "Name C" };
    for (int index = 0; index < 3; ++index) {
        Json data = withName(desks[index]->document(), "c2", names[index]);
        desks[index]->save(data);
    }
    for (auto* desk : desks) {
        clock.advance(1s);
        desk->sync();
    }
    for (auto* desk : desks) {
        desk->sync();
        desk->applyGiven();
        desk->sync();
    }

    const Json settled = serverBody("clients", "c2");
    EXPECT_EQ(settled["name"], "Name C");
    ASSERT_EQ(settled["conflicts"].size(), 2u);
    EXPECT_EQ(settled["conflicts"][0]["value"], "Name A");
    EXPECT_EQ(settled["conflicts"][1]["value"], "Name B");
    for (auto* desk : desks)
        EXPECT_EQ(desk->clientRecord("c2"), settled);
}

TEST_F(PracticeShareTest, ADeletionAgainstAnEditBringsTheRecordBack)
{
    auto [first, second] = twoDesks();
    auto one = first->document();
    one["clients"].erase(1);
    first->save(one);
    first->sync();
    EXPECT_TRUE(serverBody("clients", "c2").is_null());

    auto two = second->document();
    for (auto& item : two["clients"])
        if (item["id"] == "c2")
            item["phone"] = "777";
    second->save(two);
    second->sync();
    EXPECT_EQ(serverBody("clients", "c2")["phone"], "777");
    EXPECT_EQ(serverBody("clients", "c2")["conflicts"][0]["field"], "*deleted*");

    first->sync();
    first->applyGiven();
    EXPECT_EQ(first->clientRecord("c2"), serverBody("clients", "c2"));
}

TEST_F(PracticeShareTest, ACycleRepeatedAfterACrashChangesNothingMore)
{
    auto [first, second] = twoDesks();
    const std::string before = readText(first->folder / "sync-state.json");
    auto mine = first->document();
    mine["clients"][0]["name"] = "Ada K.";
    first->save(mine);
    first->sync();
    const auto written = server->rows.at({ "clients", "c1" });

    // Killed after the write, before its state file was replaced: the restarted desk finds the old one.
    writeText(first->folder / "sync-state.json", before);
    first->share = first->make();
    first->connection.disconnect();
    first->share->resume();
    EXPECT_EQ(first->share->status()["state"], "connecting");
    first->sync();
    EXPECT_EQ(first->share->status()["state"], "connected");
    EXPECT_EQ(server->rows.at({ "clients", "c1" }).rev, written.rev);
    EXPECT_EQ(serverBody("clients", "c1")["name"], "Ada K.");
    EXPECT_TRUE(first->given.empty());

    second->sync();
    second->applyGiven();
    EXPECT_EQ(second->clientRecord("c1")["name"], "Ada K.");
}

// Killed after its writes reached the server and before its state file was replaced, a desk merges
// its same changes again on restart, against records other desks have merged on top of since.
TEST_F(PracticeShareTest, AMergeRepeatedAfterACrashGivesTheSameOutcomeAndLosesNothing)
{
    auto [first, second] = twoDesks();
    auto third = joinedDesk();
    Desk* desks[] = { first.get(), second.get(), third.get() };
    const char* names[] = { "Name A", "Name B", "Name C" };
    for (int index = 0; index < 3; ++index) {
        Json data = withName(desks[index]->document(), "c2", names[index]);
        if (index == 1)
            data["clients"].erase(0); // and deletes Ada, whom the first desk edits
        if (index == 0)
            data["clients"][0]["phone"] = "11";
        desks[index]->save(data);
    }

    // The second desk sends first, then dies before recording it.
    const std::string before = readText(second->folder / "sync-state.json");
    clock.advance(1s);
    second->sync();
    writeText(second->folder / "sync-state.json", before);
    second->given.clear();
    clock.advance(1s);
    third->sync();
    clock.advance(1s);
    first->sync();
    const Json merged = serverBody("clients", "c2");
    const Json edited = serverBody("clients", "c1");

    clock.advance(1s);
    second->share = second->make();
    second->connection.disconnect();
    second->share->resume();
    second->sync();
    EXPECT_EQ(serverBody("clients", "c2"), merged) << "the repeated merge changed a record that already held it";
    EXPECT_EQ(serverBody("clients", "c1"), edited) << "the repeated deletion was noted again";

    for (auto* desk : desks) {
        desk->sync();
        desk->applyGiven();
        desk->sync();
    }
    const Json settled = serverBody("clients", "c2");
    EXPECT_EQ(settled["name"], "Name A");
    std::multiset<std::string> setAside;
    for (auto& entry : settled["conflicts"])
        setAside.insert(entry["value"].get<std::string>());
    EXPECT_EQ(setAside, (std::multiset<std::string> { "Name B", "Name C" }));
    const Json ada = serverBody("clients", "c1");
    EXPECT_EQ(ada["phone"], "11");
    ASSERT_EQ(ada["conflicts"].size(), 1u);
    EXPECT_EQ(ada["conflicts"][0]["field"], "*deleted*");
    for (auto* desk : desks) {
        EXPECT_EQ(desk->clientRecord("c2"), settled);
        EXPECT_EQ(desk->clientRecord("c1"), ada);
    }
}

// Versions of a record can reach a desk faster than its page saves them: a page that saves an
// earlier one on its way to the last hasn't edited anything, and nothing of the later one is undone.
TEST_F(PracticeShareTest, AnEarlierVersionThePageSavesLateIsNoEdit)
{
    auto desks = twoDesks(); // named, not bound: the lambda below captures them
    auto& first = desks.first;
    auto& second = desks.second;
    auto rename = [&](const std::string& name) {
        second->save(withName(second->document(), "c2", name));
        second->sync();
        second->applyGiven();
        second->sync();
        first->sync();
    };
    rename("Robert");
    ASSERT_EQ(first->given.size(), 1u);
    const Json earlier = first->given.front();
    rename("Roberto");
    ASSERT_EQ(first->given.size(), 2u);

    // Only the first version is saved when the next turn runs; then the desk starts again.
    first->given = { earlier };
    first->applyGiven();
    ASSERT_EQ(first->clientRecord("c2")["name"], "Robert");
    const int writes = server->writes;
    first->sync();
    EXPECT_EQ(server->writes, writes);
    first->share = first->make();
    first->connection.disconnect();
    first->share->resume();
    first->sync();
    EXPECT_EQ(server->writes, writes);
    EXPECT_EQ(serverBody("clients", "c2")["name"], "Roberto");
    first->applyGiven();
    first->sync();
    EXPECT_EQ(first->clientRecord("c2"), serverBody("clients", "c2"));
    EXPECT_EQ(server->writes, writes);
}

TEST_F(PracticeShareTest, WhatThePageWasGivenAndDidNotSaveIsGivenAgainAfterAReload)
{
    auto [first, second] = twoDesks();
    auto one = first->document();
    one["clients"][1]["name"] = "Bobby";
    first->save(one);
    first->sync();

    second->sync();
    ASSERT_EQ(second->given.size(), 1u);
    second->given.clear();
    // The page reloaded from data.json before it saved: the change comes again, and meanwhile the old text isn't sent back.
    second->sync();
    EXPECT_TRUE(second->given.empty());
    EXPECT_EQ(serverBody("clients", "c2")["name"], "Bobby");
    second->share->pageLoaded();
    second->sync();
    ASSERT_EQ(second->given.size(), 1u);
    second->applyGiven();
    EXPECT_EQ(second->clientRecord("c2")["name"], "Bobby");
}

TEST_F(PracticeShareTest, AStateFileThatDoesNotReadIsPutAsideAndSharingStops)
{
    auto [first, second] = twoDesks();
    writeText(first->folder / "sync-state.json", "{\"version\": 1, \"desk\": ");
    first->share = first->make();
    first->share->resume();
    clock.runPosted();
    EXPECT_EQ(first->share->status()["state"], "off");
    EXPECT_NE(first->share->status()["lastError"].get<std::string>().find("damaged"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(first->folder / "sync-state.json"));
    bool keptAside = false;
    for (auto& entry : std::filesystem::directory_iterator(first->folder.path()))
        keptAside |= entry.path().filename().string().starts_with("sync-state-unreadable-");
    EXPECT_TRUE(keptAside);
    EXPECT_EQ(first->document()["clients"].size(), 2u);
}

TEST_F(PracticeShareTest, ADataFileThatDoesNotReadSendsNothingAndSaysWhy)
{
    auto [first, second] = twoDesks();
    const int writes = server->writes;
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string unreadable[] = { "{\"clients\": [", deep, "[]", "" };
    for (auto& text : unreadable) {
        writeText(first->folder / "data.json", text);
        EXPECT_GT(first->sync(), 0ms) << text.substr(0, 20);
        EXPECT_EQ(first->share->status()["lastError"], "The practice's data file doesn't read, so nothing was shared.") << text.substr(0, 20);
    }
    std::filesystem::remove(first->folder / "data.json");
    first->sync();
    EXPECT_EQ(first->share->status()["lastError"], "The practice's data file isn't there, so nothing was shared.");
    EXPECT_EQ(server->writes, writes);
    EXPECT_EQ(server->rows.size(), 3u);
}

TEST_F(PracticeShareTest, StopKeepsTheDataAndForgetsTheServer)
{
    auto [first, second] = twoDesks();
    first->share->stop();
    clock.runPosted();
    EXPECT_EQ(first->share->status()["state"], "off");
    EXPECT_FALSE(std::filesystem::exists(first->folder / "sync-state.json"));
    EXPECT_TRUE(first->keyring.items.empty());
    EXPECT_EQ(first->document()["clients"].size(), 2u);
    EXPECT_EQ(first->states.back(), "off");
}

TEST(PracticeShareRetry, WaitsDoubleUpToAMinute)
{
    const std::pair<int, std::chrono::milliseconds> table[] = { { 0, 0ms }, { 1, 1s }, { 2, 2s }, { 3, 4s }, { 6, 32s }, { 7, 60s }, { 40, 60s } };
    for (auto& [failures, wait] : table)
        EXPECT_EQ(PracticeShare::retryDelay(failures), wait) << failures;
}

}
