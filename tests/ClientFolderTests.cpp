#include "bridge/DocumentCommands.h"
#include "common/Base64.h"
#include "doubles/CommandHarness.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

class ClientFolderTest : public testing::Test {
protected:
    fs::path root() { return harness.store().docsRoot(); }

    // The folder the page would remember for the client, given the folders other clients hold.
    Json claim(const std::string& client, const Json& held = Json::array(), bool create = true)
    {
        auto answer = harness.send("claimClientFolder", Json::array({ client, held, create }));
        EXPECT_TRUE(answer->result) << answer->error.value_or("");
        return answer->json();
    }

    void save(const std::string& folder, const std::string& fileName)
    {
        auto answer = harness.send("saveDocument", Json::array({ Json { { "client", folder }, { "fileName", fileName }, { "bytes", base64Encode("x") } } }));
        ASSERT_TRUE(answer->result) << answer->error.value_or("");
    }

    std::vector<std::string> listed(const std::string& folder)
    {
        std::vector<std::string> names;
        const Json listing = harness.send("listDocuments", Json::array({ folder }))->json();
        for (const auto& file : listing["files"])
            names.push_back(file["name"]);
        std::sort(names.begin(), names.end());
        return names;
    }

    CommandHarness harness;
};

TEST_F(ClientFolderTest, NamesakesGetFoldersOfTheirOwnAndNeverSeeEachOthersDocuments)
{
    const Json first = claim("Ana Lima");
    const Json second = claim("Ana Lima", Json::array({ first }));
    const Json third = claim("Ana Lima", Json::array({ first, second }));
    EXPECT_EQ(first, "Ana Lima");
    EXPECT_EQ(second, "Ana Lima (2)");
    EXPECT_EQ(third, "Ana Lima (3)");
    for (const Json& folder : { first, second, third })
        EXPECT_TRUE(fs::is_directory(root() / folder.get<std::string>())) << folder;

    save(first, "mine.pdf");
    save(second, "hers.pdf");
    EXPECT_EQ(listed(first), std::vector<std::string> { "mine.pdf" });
    EXPECT_EQ(listed(second), std::vector<std::string> { "hers.pdf" });
    EXPECT_TRUE(listed(third).empty());
}

TEST_F(ClientFolderTest, AFolderFiledUnderTheNameIsAdoptedOnlyWhileNoOneHoldsIt)
{
    writeText(root() / "Bea" / "passport.pdf", "x");
    writeText(root() / "Cara (2)" / "old.pdf", "x");
    fs::create_directories(harness.path("elsewhere"));
    fs::create_symlink(harness.path("elsewhere"), root() / "Dan");

    struct Case {
        const char* client;
        Json held;
        Json folder;
    };
    const Case cases[] = {
        { "Bea", Json::array(), "Bea" },
        // Held names are read as folder names, as saveDocument would make them.
        { "Bea", Json::array({ "Bea" }), "Bea (2)" },
        { "Bea", Json::array({ "Bea/" }), "Bea (3)" },
        // A numbered folder that is someone else's is skipped, never shared.
        { "Cara", Json::array({ "Cara" }), "Cara (3)" },
        // A link is no one's folder.
        { "Dan", Json::array(), "Dan (2)" },
        { "..Smith: J/K", Json::array(), "Smith JK" },
        { "../../outside", Json::array(), "outside" },
        { "", Json::array(), "Untitled" },
    };
    for (const auto& [client, held, folder] : cases) {
        EXPECT_EQ(claim(client, held), folder) << client << " " << held;
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(root() / folder.get<std::string>()))) << folder;
    }
    EXPECT_TRUE(fs::exists(root() / "Bea" / "passport.pdf"));
    EXPECT_TRUE(fs::is_empty(harness.path("elsewhere")));
    EXPECT_FALSE(fs::exists(root().parent_path() / "outside"));
    EXPECT_FALSE(fs::exists(root().parent_path().parent_path() / "outside"));
}

TEST_F(ClientFolderTest, WithoutCreatingOnlyAnUnheldFolderOfTheNameIsAnswered)
{
    EXPECT_EQ(claim("Eve", Json::array(), false), Json());
    EXPECT_FALSE(fs::exists(root()));
    writeText(root() / "Eve" / "a.pdf", "x");
    EXPECT_EQ(claim("Eve", Json::array(), false), "Eve");
    EXPECT_EQ(claim("Eve", Json::array({ "Eve" }), false), Json());
    EXPECT_FALSE(fs::exists(root() / "Eve (2)"));
}

TEST_F(ClientFolderTest, OddArgumentsReadAsNoneAndAFolderThatCannotBeMadeFails)
{
    writeText(root() / "Fay" / "a.pdf", "x");
    EXPECT_EQ(harness.send("claimClientFolder", Json::array({ "Fay", "Fay" }))->json(), "Fay");
    EXPECT_EQ(harness.send("claimClientFolder", Json::array({ "Fay", Json::array({ 7, nullptr, "Fay" }) }))->json(), "Fay (2)");
    EXPECT_EQ(harness.send("claimClientFolder")->json(), "Untitled");

    auto noRoot = CommandHarness();
    noRoot.store().config()["docsRoot"] = "/proc/quillpost-cannot-be-here";
    auto failed = noRoot.send("claimClientFolder", Json::array({ "Gil" }));
    EXPECT_TRUE(failed->error && failed->error->starts_with("Couldn't create the folder")) << failed->error.value_or("");
    EXPECT_EQ(noRoot.send("claimClientFolder", Json::array({ "Gil", Json::array(), false }))->json(), Json());

    // A drive that isn't mounted gets nothing made in its place.
    auto driveGone = CommandHarness();
    driveGone.store().config()["drive"] = driveGone.path("drive").string();
    driveGone.store().config()["docsRoot"] = driveGone.path("drive/Quillpost/Clients").string();
    auto unavailable = driveGone.send("claimClientFolder", Json::array({ "Gil" }));
    EXPECT_TRUE(unavailable->error && unavailable->error->find("isn't available") != std::string::npos) << unavailable->error.value_or("");
    EXPECT_FALSE(fs::exists(driveGone.path("drive")));
}

}
}
