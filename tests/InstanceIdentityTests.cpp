#include "app/InstanceIdentity.h"
#include "doubles/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

// GApplication's rule for identifiers: dot-separated elements of letters, digits, '_' and '-',
// none starting with a digit, at least two, at most 255 characters.
bool validApplicationId(const std::string& id)
{
    static const std::regex rule("[A-Za-z_-][A-Za-z0-9_-]*(\\.[A-Za-z_-][A-Za-z0-9_-]*)+");
    return id.size() <= 255 && std::regex_match(id, rule);
}

TEST(InstanceIdentity, EachDataFolderIsItsOwnInstanceAndTheSelfTestNeverHandsOver)
{
    TemporaryFolder home;
    fs::path user = home.path() / ".local/share/Quillpost";
    fs::create_directories(user);
    fs::create_directories(home.path() / "other");
    fs::create_symlink(user, home.path() / "link-to-user");

    // name, data folder, self-test, the user's own identifier, unique
    const std::tuple<const char*, fs::path, bool, bool, bool> cases[] = {
        { "the user's copy", user, false, true, true },
        { "the user's folder spelt with a trailing separator", fs::path(user.string() + "/"), false, true, true },
        { "the user's folder reached through a link", home.path() / "link-to-user", false, true, true },
        { "another data folder", home.path() / "other", false, false, true },
        { "a folder that doesn't exist yet", home.path() / "not-yet", false, false, true },
        { "the self-test on its own folder", home.path() / "other", true, false, false },
        { "the self-test on the user's folder", user, true, true, false },
    };
    std::set<std::string> otherIds;
    for (const auto& [name, folder, selfTest, sameAsUsers, unique] : cases) {
        SCOPED_TRACE(name);
        auto identity = instanceIdentity({ .dataFolder = folder, .defaultDataFolder = user, .selfTest = selfTest });
        EXPECT_TRUE(validApplicationId(identity.applicationId)) << identity.applicationId;
        EXPECT_EQ(identity.applicationId == baseApplicationId, sameAsUsers) << identity.applicationId;
        EXPECT_EQ(identity.unique, unique);
        if (!sameAsUsers)
            otherIds.insert(identity.applicationId);
    }
    // The same other folder always gives the same identifier, so its own second launch still
    // hands over; two other folders give two.
    EXPECT_EQ(otherIds.size(), 2u);
    auto again = instanceIdentity({ .dataFolder = home.path() / "other", .defaultDataFolder = user });
    EXPECT_EQ(again.applicationId, instanceIdentity({ .dataFolder = home.path() / "other/", .defaultDataFolder = user }).applicationId);
    EXPECT_TRUE(otherIds.contains(again.applicationId));
}

}
}
