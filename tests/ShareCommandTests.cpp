#include "app/PageHooks.h"
#include "share/PracticeShare.h"

#include "doubles/CommandHarness.h"
#include "doubles/FakePracticeDatabase.h"
#include "doubles/SecretDoubles.h"

#include <gtest/gtest.h>

namespace quillpost {

namespace {

// A bridge whose sharing talks to a server in memory.
class ShareCommandTest : public testing::Test {
protected:
    std::shared_ptr<FakePracticeDatabase::Server> server = std::make_shared<FakePracticeDatabase::Server>();
    FakeKeyring keyring;
    VirtualClock clock;
    TemporaryFolder folder { "quillpost-share" };
    std::unique_ptr<PracticeShare> share = std::make_unique<PracticeShare>(testShareServices(folder.path(), server, keyring, clock, [] { return true; }));
    std::unique_ptr<CommandHarness> harness = std::make_unique<CommandHarness>(true, [this](Bridge::Services& services) { services.share = share.get(); });

    std::shared_ptr<CommandAnswer> send(const std::string& cmd, const Json& settings)
    {
        auto answer = harness->send(cmd, Json::array({ settings }));
        clock.runBackground();
        clock.runPosted();
        return answer;
    }
};

const Json goodServer { { "host", "db.office.example" }, { "port", 5432 }, { "database", "practice" }, { "user", "clerk" }, { "password", "secret" } };

Json with(const char* key, const Json& value)
{
    Json copy = goodServer;
    if (value.is_null())
        copy.erase(key);
    else
        copy[key] = value;
    return copy;
}

}

TEST_F(ShareCommandTest, SettingsAreCheckedBeforeAnyConnectionAndEachCommandAnswersThePage)
{
    const std::pair<Json, const char*> refused[] = {
        { with("host", ""), "host" }, { with("database", nullptr), "host" }, { with("user", 7), "host" },
        { with("port", 0), "port" }, { with("port", 65536), "port" }, { with("port", "54x"), "port" }, { with("port", 5.5), "port" },
        { with("port", "99999999999999999999"), "port" }, { with("port", "065535"), "port" },
    };
    for (auto& [settings, word] : refused) {
        auto answer = send("shareTest", settings);
        EXPECT_EQ(answer->calls, 1) << settings.dump();
        EXPECT_NE(answer->error.value_or("").find(word), std::string::npos) << settings.dump();
    }
    EXPECT_NE(send("shareStart", goodServer)->error.value_or("").find("uploads"), std::string::npos) << "no mode";
    EXPECT_EQ(server->connects, 0);

    // The port's bounds, and the longest port typed as text.
    for (const Json& port : { Json(1), Json("65535"), Json(nullptr) })
        EXPECT_EQ(send("shareTest", with("port", port))->result, "true") << port;
    EXPECT_EQ(send("shareTest", with("password", "nope"))->error, "The server refused the password for user clerk.");

    EXPECT_EQ(send("shareStart", with("mode", "upload"))->result, "true");
    auto on = harness->send("shareStatus")->json();
    EXPECT_EQ(on["state"], "connecting");
    EXPECT_FALSE(on["desk"].get<std::string>().empty());
    EXPECT_EQ(harness->send("shareStop")->result, "true");
    EXPECT_EQ(harness->send("shareStatus")->json()["state"], "off");
    EXPECT_FALSE(std::filesystem::exists(folder / "sync-state.json"));

    CommandHarness withoutSharing;
    EXPECT_EQ(withoutSharing.send("shareStatus")->json()["state"], "off");
    EXPECT_NE(withoutSharing.send("shareTest", Json::array({ goodServer }))->error, std::nullopt);
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
