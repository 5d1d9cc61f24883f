#include "app/PageHooks.h"
#include "platform/PracticeDatabase.h"
#include "share/PracticeShare.h"

#include "doubles/CommandHarness.h"
#include "doubles/SecretDoubles.h"

#include <gtest/gtest.h>

#include <set>

namespace quillpost {

namespace {

using namespace std::chrono_literals;

// The practice server in memory: records keyed by (collection, id), one rev counter for every
// write, and a clock in milliseconds that moves one step per write. Every desk's connection shares it.
struct Server {
    std::map<std::pair<std::string, std::string>, RemoteRecord> rows;
    std::int64_t revs { 0 };
    std::int64_t time { 1714564800000 };
    bool reachable { true };
    int connects { 0 };
    int writes { 0 };
    // Runs right before a write takes effect, so a test can let another desk get in first.
    std::function<void()> beforeWrite;

    void put(const std::string& collection, const std::string& id, const Json& body, const std::string& desk)
    {
        rows[{ collection, id }] = { collection, id, body, ++revs, desk, ++time };
    }
    Json body(const std::string& collection, const std::string& id) const { return rows.at({ collection, id }).body; }
};

class FakePracticeDatabase final : public PracticeDatabase {
public:
    explicit FakePracticeDatabase(std::shared_ptr<Server> server)
        : m_server(std::move(server))
    {
    }
    void connect(const ServerAddress& address, const std::string& password) override
    {
        ++m_server->connects;
        if (!m_server->reachable)
            throw DatabaseError(DatabaseError::Kind::Unreachable, "No server answers at " + address.hostAndPort() + ".");
        if (password != "secret")
            throw DatabaseError(DatabaseError::Kind::Refused, "The server refused the password for user " + address.user + ".");
        m_connected = true;
    }
    bool connected() const override { return m_connected; }
    void disconnect() override { m_connected = false; }
    void migrate() override { check(); }
    bool holdsRecords() override
    {
        check();
        return !m_server->rows.empty();
    }
    std::vector<RemoteRecord> pullSince(std::int64_t rev, std::size_t limit) override
    {
        check();
        std::vector<RemoteRecord> result;
        for (auto& [key, row] : m_server->rows) {
            if (row.rev > rev)
                result.push_back(row);
        }
        std::sort(result.begin(), result.end(), [](auto& a, auto& b) { return a.rev < b.rev; });
        result.resize(std::min(result.size(), limit));
        return result;
    }
    std::optional<RemoteRecord> fetch(const std::string& collection, const std::string& id) override
    {
        check();
        auto found = m_server->rows.find({ collection, id });
        return found == m_server->rows.end() ? std::nullopt : std::optional(found->second);
    }
    std::optional<RemoteRecord> write(const std::string& collection, const std::string& id, const Json& body,
        std::int64_t expectedRev, const std::string& desk) override
    {
        if (auto race = std::exchange(m_server->beforeWrite, nullptr))
            race();
        auto now = fetch(collection, id);
        if ((now ? now->rev : 0) != expectedRev)
            return std::nullopt;
        ++m_server->writes;
        m_server->put(collection, id, body, desk);
        return fetch(collection, id);
    }
    bool waitForChange(std::chrono::milliseconds) override
    {
        check();
        return false;
    }

private:
    void check()
    {
        m_connected = m_connected && m_server->reachable;
        if (!m_connected)
            throw DatabaseError(DatabaseError::Kind::Unreachable, "The connection to the practice server was lost.");
    }

    std::shared_ptr<Server> m_server;
    bool m_connected { false };
};

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
    return { { "version", 3 }, { "clients", clients }, { "files", Json::array() },
        { "settings", { { "billing", { { "rate", 100 } } } } } };
}

Json::iterator withId(Json& list, const Json& id)
{
    return std::find_if(list.begin(), list.end(), [&](const Json& entry) { return entry["id"] == id; });
}

// One desk: its data folder, keyring and connection to the shared server, and a page that
// applies what it is given and saves it the way the page's autosave does.
struct Desk {
    Desk(std::shared_ptr<Server> shared, VirtualClock& virtualClock, Json document)
        : clock(virtualClock)
        , server(shared)
        , connection(shared)
    {
        save(document);
        share = make();
    }

    std::unique_ptr<PracticeShare> make()
    {
        auto made = std::make_unique<PracticeShare>(PracticeShare::Services {
            .dataFile = folder / "data.json",
            .stateFile = folder / "sync-state.json",
            .openDatabase = [this] { return std::make_unique<FakePracticeDatabase>(server); },
            .keyring = keyring,
            .clock = clock,
            .mainQueue = clock,
            .background = clock,
            .safetyCopy =
                [this] {
                    ++safetyCopies;
                    return safetyCopyWorks;
                },
            .workerThread = false,
        });
        made->deliver = [this](const Json& changes) { given.push_back(changes); };
        made->stateChanged = [this](const Json& status) { states.push_back(status["state"]); };
        return made;
    }

    // Killed and started again on the same folder and keyring.
    void restart()
    {
        share = make();
        connection.disconnect();
        share->resume();
    }

    std::string lastError() const { return share->status()["lastError"]; }

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

    // The user sets one field of a client, or deletes the client when field is empty.
    void edit(const std::string& id, const std::string& field, const std::string& value = "")
    {
        Json data = document();
        auto item = withId(data["clients"], id);
        if (field.empty())
            data["clients"].erase(item);
        else
            (*item)[field] = value;
        save(data);
    }

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
                if (auto item = withId(list, change["id"]); item != list.end())
                    list.erase(item);
                if (!change["record"].is_null())
                    list.push_back(change["record"]);
            }
        }
        save(data);
    }

    Json clientRecord(const std::string& id) const
    {
        Json list = document()["clients"];
        auto item = withId(list, id);
        return item == list.end() ? Json() : *item;
    }

    VirtualClock& clock;
    TemporaryFolder folder;
    FakeKeyring keyring;
    std::shared_ptr<Server> server;
    FakePracticeDatabase connection;
    std::vector<Json> given;
    std::vector<Json> states;
    int safetyCopies { 0 };
    bool safetyCopyWorks { true };
    std::unique_ptr<PracticeShare> share;
};

using Desks = std::vector<std::unique_ptr<Desk>>;

class PracticeShareTest : public testing::Test {
protected:
    VirtualClock clock;
    std::shared_ptr<Server> server = std::make_shared<Server>();

    // A desk that uploaded Ada and Bob, and more desks that joined it (each with a client of its
    // own that the join replaces) and saved what they were given.
    Desks sharedDesks(int count)
    {
        Desks desks;
        desks.push_back(std::make_unique<Desk>(server, clock, practice({ client("c1", "Ada", "1"), client("c2", "Bob") })));
        EXPECT_EQ(desks[0]->start(PracticeShare::Mode::Upload), std::nullopt);
        desks[0]->sync();
        while (static_cast<int>(desks.size()) < count) {
            auto& desk = desks.emplace_back(std::make_unique<Desk>(server, clock, practice({ client("c9", "Local only") })));
            EXPECT_EQ(desk->start(PracticeShare::Mode::Join), std::nullopt);
            settle({ desk.get() });
        }
        return desks;
    }

    // Each desk takes what the others sent and saves it.
    static void settle(const std::vector<Desk*>& desks)
    {
        for (auto* desk : desks) {
            desk->sync();
            desk->applyGiven();
            desk->sync();
        }
    }
    static void settle(const Desks& desks)
    {
        for (auto& desk : desks)
            settle({ desk.get() });
    }
};

}

TEST_F(PracticeShareTest, AJoiningDeskGetsThePracticeSafelyAndDamagedFilesOrAStopEndSharing)
{
    auto desks = sharedDesks(2);
    Desk& first = *desks[0];
    Desk& second = *desks[1];
    EXPECT_EQ(first.keyring.items.at({ PracticeShare::keyringService, "clerk@db.office.example:5432/practice" }), "secret");
    EXPECT_EQ(readText(first.folder / "sync-state.json").find("secret"), std::string::npos);
    EXPECT_EQ(first.share->status()["state"], "connected");
    EXPECT_TRUE(first.given.empty());

    // The joining desk's own client went into the safety copy only; saving what it was given sent nothing back.
    EXPECT_EQ(second.safetyCopies, 1);
    EXPECT_EQ(second.document()["clients"], first.document()["clients"]);
    EXPECT_EQ(second.document()["settings"]["billing"]["rate"], 100);
    EXPECT_EQ(server->writes, 3);
    EXPECT_EQ(server->rows.size(), 3u);
    EXPECT_TRUE(second.given.empty());

    // A start that can't go ahead says why and leaves no state behind.
    auto empty = std::make_shared<Server>();
    Desk desk(empty, clock, practice({}));
    EXPECT_NE(desk.start(PracticeShare::Mode::Upload, "wrong").value_or("").find("password"), std::string::npos);
    empty->reachable = false;
    EXPECT_NE(desk.start(PracticeShare::Mode::Upload), std::nullopt);
    empty->reachable = true;
    desk.safetyCopyWorks = false;
    EXPECT_NE(desk.start(PracticeShare::Mode::Join).value_or("").find("safety copy"), std::string::npos);
    desk.keyring.refuseWrites = true;
    EXPECT_NE(desk.start(PracticeShare::Mode::Upload).value_or("").find("keyring"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(desk.folder / "sync-state.json"));
    desk.keyring.refuseWrites = false;
    writeText(desk.folder / "data.json",
        R"({"enc":true,"v":2,"people":[{"name":"Practice","salt":"AAAA","priv":{},"dk":{"iv":"AAAA","ct":"AAAA"}}],"iv":"AAAA","ct":"AAAA"})");
    EXPECT_EQ(desk.start(PracticeShare::Mode::Upload), PracticeShare::encryptedRefusal);
    EXPECT_TRUE(empty->rows.empty());

    // Damaged files stop sharing; stopping forgets the server.
    const std::string saved = readText(first.folder / "data.json");
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    for (const std::string& text : { std::string("{\"clients\": ["), deep, std::string("[]"), std::string() }) {
        writeText(first.folder / "data.json", text);
        EXPECT_GT(first.sync(), 0ms) << text.substr(0, 20);
        EXPECT_NE(first.lastError().find("doesn't read"), std::string::npos) << text.substr(0, 20);
    }
    std::filesystem::remove(first.folder / "data.json");
    first.sync();
    EXPECT_NE(first.lastError().find("isn't there"), std::string::npos);
    EXPECT_EQ(server->writes, 3);

    // A state file that doesn't read is put aside.
    writeText(second.folder / "sync-state.json", "{\"version\": 1, \"desk\": ");
    second.restart();
    clock.runPosted();
    EXPECT_EQ(second.share->status()["state"], "off");
    EXPECT_NE(second.lastError().find("damaged"), std::string::npos);
    bool keptAside = false;
    for (auto& entry : std::filesystem::directory_iterator(second.folder.path()))
        keptAside |= entry.path().filename().string().starts_with("sync-state-unreadable-");
    EXPECT_TRUE(keptAside);
    EXPECT_EQ(second.document()["clients"].size(), 2u);

    writeText(first.folder / "data.json", saved);
    first.share->stop();
    clock.runPosted();
    EXPECT_EQ(first.states.back(), "off");
    EXPECT_FALSE(std::filesystem::exists(first.folder / "sync-state.json"));
    EXPECT_TRUE(first.keyring.items.empty());
    // Started again with no server set up, nothing runs and nothing is written.
    const int connects = server->connects;
    first.restart();
    first.share->dataSaved();
    clock.runPosted();
    EXPECT_EQ(first.share->status()["enabled"], false);
    EXPECT_FALSE(std::filesystem::exists(first.folder / "sync-state.json"));
    EXPECT_EQ(server->connects, connects);
}

TEST_F(PracticeShareTest, ADeskOfflineKeepsItsChangesAndARaceLostIsMergedAndRetried)
{
    auto desks = sharedDesks(2);
    Desk& first = *desks[0];
    // The second desk changes the phone while the first is cut off and changes the name.
    desks[1]->edit("c1", "phone", "2");
    desks[1]->sync();
    server->reachable = false;
    first.edit("c1", "name", "Ada Lovelace");
    for (auto wait : { 1000ms, 2000ms, 4000ms })
        EXPECT_EQ(first.sync(), wait);
    const Json offline = first.share->status();
    EXPECT_EQ(offline["state"], "offline");
    EXPECT_NE(offline["lastError"], "");
    EXPECT_EQ(offline["pending"], 1);
    EXPECT_FALSE(offline["since"].is_null());

    server->reachable = true;
    EXPECT_EQ(first.sync(), 0ms);
    EXPECT_EQ(first.share->status()["state"], "connected");
    EXPECT_EQ(first.lastError(), "");
    EXPECT_EQ(first.share->status()["pending"], 0);
    settle(desks);
    for (auto& desk : desks)
        EXPECT_EQ(desk->clientRecord("c1"), client("c1", "Ada Lovelace", "2"));

    // Another desk writes Bob's phone between this desk's pull and its write.
    first.edit("c2", "name", "Robert");
    server->beforeWrite = [&] { server->put("clients", "c2", client("c2", "Bob", "555"), "desk-x"); };
    EXPECT_EQ(first.sync(), 0ms);
    EXPECT_EQ(server->body("clients", "c2"), client("c2", "Robert", "555"));
    first.applyGiven();
    EXPECT_EQ(first.clientRecord("c2"), client("c2", "Robert", "555"));
}

// Three desks give Bob a new name each while the second deletes Ada, whom the first edits. Killed
// after its writes reached the server and before its state file was replaced, the second desk merges
// its same changes again on restart, against records the other desks have merged on top of since.
TEST_F(PracticeShareTest, AMergeRepeatedAfterACrashGivesTheSameOutcomeAndLosesNothing)
{
    auto desks = sharedDesks(3);
    Desk& first = *desks[0];
    Desk& second = *desks[1];
    for (std::size_t index = 0; index < desks.size(); ++index)
        desks[index]->edit("c2", "name", std::string("Name ") + char('A' + index));
    first.edit("c1", "phone", "11");
    second.edit("c1", "");

    // The second desk sends first, then dies before recording it.
    const std::string before = readText(second.folder / "sync-state.json");
    clock.advance(1s);
    second.sync();
    EXPECT_TRUE(server->body("clients", "c1").is_null());
    writeText(second.folder / "sync-state.json", before);
    second.given.clear();
    clock.advance(1s);
    desks[2]->sync();
    clock.advance(1s);
    first.sync();
    const int writes = server->writes;

    clock.advance(1s);
    second.restart();
    EXPECT_EQ(second.share->status()["state"], "connecting");
    second.sync();
    EXPECT_EQ(second.share->status()["state"], "connected");
    EXPECT_EQ(server->writes, writes) << "the repeated merge changed records that already held it";

    settle(desks);
    const Json settled = server->body("clients", "c2");
    EXPECT_EQ(settled["name"], "Name A");
    auto deskId = [&](int index) { return desks[index]->share->status()["desk"].get<std::string>(); };
    std::multiset<std::string> setAside;
    for (auto& entry : settled["conflicts"])
        setAside.insert(entry["value"].get<std::string>() + " from " + entry["desk"].get<std::string>());
    EXPECT_EQ(setAside, (std::multiset<std::string> { "Name B from " + deskId(1), "Name C from " + deskId(2) }));
    // The edit brought the deleted record back, the deletion noted once.
    const Json ada = server->body("clients", "c1");
    EXPECT_EQ(ada["phone"], "11");
    ASSERT_EQ(ada["conflicts"].size(), 1u);
    EXPECT_EQ(ada["conflicts"][0]["field"], "*deleted*");
    // Settled alike on every desk, nothing more moves.
    const int settledWrites = server->writes;
    for (auto& desk : desks) {
        EXPECT_EQ(desk->clientRecord("c2"), settled);
        EXPECT_EQ(desk->clientRecord("c1"), ada);
        desk->sync();
        EXPECT_TRUE(desk->given.empty());
    }
    EXPECT_EQ(server->writes, settledWrites);
}

// Versions of a record can reach a desk faster than its page saves them: a page that saves an
// earlier one on its way to the last hasn't edited anything, and nothing of the later one is undone.
// What the page was given and didn't save comes again after it reloads.
TEST_F(PracticeShareTest, WhatThePageSavesLateOrNotAtAllIsNoEdit)
{
    auto desks = sharedDesks(2);
    Desk& first = *desks[0];
    Desk& second = *desks[1];
    for (const char* name : { "Robert", "Roberto" }) {
        second.edit("c2", "name", name);
        second.sync();
        first.sync();
    }
    ASSERT_EQ(first.given.size(), 2u);
    // Only the first version is saved when the next turn runs; then the desk starts again.
    first.given.pop_back();
    first.applyGiven();
    const int writes = server->writes;
    first.sync();
    first.restart();
    first.sync();
    EXPECT_EQ(server->body("clients", "c2")["name"], "Roberto");
    first.applyGiven();
    first.sync();
    EXPECT_EQ(first.clientRecord("c2"), server->body("clients", "c2"));
    EXPECT_EQ(server->writes, writes);

    first.edit("c2", "name", "Bobby");
    first.sync();
    second.sync();
    ASSERT_EQ(second.given.size(), 1u);
    second.given.clear();
    second.sync();
    EXPECT_TRUE(second.given.empty());
    EXPECT_EQ(server->body("clients", "c2")["name"], "Bobby") << "the old text isn't sent back meanwhile";
    second.share->pageLoaded();
    second.sync();
    second.applyGiven();
    EXPECT_EQ(second.clientRecord("c2")["name"], "Bobby");
}

TEST(PracticeShareRetry, WaitsDoubleUpToAMinute)
{
    const std::pair<int, std::chrono::milliseconds> table[] = { { 0, 0ms }, { 1, 1s }, { 2, 2s }, { 3, 4s }, { 6, 32s },
        { 7, 60s }, { 40, 60s } };
    for (auto& [failures, wait] : table)
        EXPECT_EQ(PracticeShare::retryDelay(failures), wait) << failures;
}

// The commands check the settings before any connection and answer the page.
TEST_F(PracticeShareTest, SettingsAreCheckedBeforeAnyConnectionAndEachCommandAnswersThePage)
{
    Desk desk(server, clock, practice({}));
    CommandHarness harness(true, [&](Bridge::Services& services) { services.share = desk.share.get(); });
    const Json officeSettings { { "host", "db.office.example" }, { "port", 5432 }, { "database", "practice" }, { "user", "clerk" },
        { "password", "secret" } };
    // The office's settings, with one member set to value or (null) left out.
    auto send = [&](const std::string& cmd, const char* member = "", const Json& value = nullptr) {
        Json settings = officeSettings;
        if (value.is_null())
            settings.erase(member);
        else
            settings[member] = value;
        auto answer = harness.send(cmd, Json::array({ settings }));
        clock.runBackground();
        clock.runPosted();
        return answer;
    };
    const std::tuple<const char*, Json, const char*> refused[] = {
        { "host", "", "host" }, { "database", nullptr, "host" }, { "user", 7, "host" }, { "port", 0, "port" },
        { "port", 65536, "port" }, { "port", "54x", "port" }, { "port", 5.5, "port" },
        { "port", "99999999999999999999", "port" }, { "port", "065535", "port" },
    };
    for (auto& [member, value, word] : refused) {
        auto answer = send("shareTest", member, value);
        EXPECT_EQ(answer->calls, 1) << member << " " << value;
        EXPECT_NE(answer->error.value_or("").find(word), std::string::npos) << member << " " << value;
    }
    EXPECT_NE(send("shareStart")->error.value_or("").find("uploads"), std::string::npos) << "no mode";
    EXPECT_EQ(server->connects, 0);

    // The port's bounds, and the longest port typed as text.
    for (const Json& port : { Json(1), Json("65535"), Json(nullptr) })
        EXPECT_EQ(send("shareTest", "port", port)->result, "true") << port;
    EXPECT_NE(send("shareTest", "password", "nope")->error.value_or("").find("password"), std::string::npos);

    EXPECT_EQ(send("shareStart", "mode", "upload")->result, "true");
    auto on = harness.send("shareStatus")->json();
    EXPECT_EQ(on["state"], "connecting");
    EXPECT_FALSE(on["desk"].get<std::string>().empty());
    EXPECT_EQ(harness.send("shareStop")->result, "true");
    EXPECT_EQ(harness.send("shareStatus")->json()["state"], "off");
    EXPECT_FALSE(std::filesystem::exists(desk.folder / "sync-state.json"));

    CommandHarness withoutSharing;
    EXPECT_EQ(withoutSharing.send("shareStatus")->json()["state"], "off");
    EXPECT_NE(withoutSharing.send("shareTest", Json::array({ officeSettings }))->error, std::nullopt);
    EXPECT_EQ(withoutSharing.send("shareStop")->result, "true");
}

TEST(ShareHooks, OtherDesksTextReachesThePageAsData)
{
    const Json changes { { "changes", { { { "collection", "clients" }, { "id", "c1" }, { "record", { { "name", "</script><b>\u2028'\")" } } } } } } };
    const std::string script = PageHooks::sharedChanges(changes);
    const std::string opening = "window.__qpShared && window.__qpShared(";
    ASSERT_TRUE(script.starts_with(opening));
    ASSERT_TRUE(script.ends_with(")"));
    EXPECT_EQ(Json::parse(script.substr(opening.size(), script.size() - opening.size() - 1)), changes);
    EXPECT_EQ(PageHooks::shareState(Json { { "state", "offline" } }), "window.__qpShareState && window.__qpShareState({\"state\":\"offline\"})");
}

}
