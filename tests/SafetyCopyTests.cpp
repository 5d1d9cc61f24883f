#include "app/BetaDataQuestion.h"
#include "doubles/DesktopDoubles.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/Store.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

class SafetyCopyTest : public testing::Test {
protected:
    std::unique_ptr<Store> start(const std::string& version, bool overridden = false)
    {
        Store::Location location { m_folder / "data", overridden, m_folder / "home", m_folder / "home" / "Documents" };
        location.betaDataFile = betaFile();
        location.version = version;
        return std::make_unique<Store>(location, Store::Services { m_clock, m_clock, m_clock });
    }

    fs::path dataFile() const { return m_folder / "data" / "data.json"; }
    fs::path betaFile() const { return m_folder / "share" / "Quillpost Beta" / "data.json"; }

    std::vector<std::string> copies(std::string_view prefix = "") const { return namesIn(m_folder / "data" / "snapshots", prefix); }
    Json config() const { return Json::parse(readText(m_folder / "data" / "config.json")); }

    // Sets a file's time relative to now, so which one is newer does not hang on the test's speed.
    static void age(const fs::path& path, std::chrono::minutes by)
    {
        fs::last_write_time(path, fs::file_time_type::clock::now() - by);
    }

    TemporaryFolder m_folder { "quillpost-safety" };
    VirtualClock m_clock;
};

TEST_F(SafetyCopyTest, ANewVersionCopiesTheDataOnceAtStart)
{
    start("2.0");
    EXPECT_TRUE(copies().empty());
    EXPECT_EQ(config()["lastVersion"], "2.0");

    writeText(dataFile(), R"({"clients":[1]})");
    start("2.0");
    EXPECT_TRUE(copies().empty());
    start("2.1");
    ASSERT_EQ(copies().size(), 1u);
    EXPECT_EQ(copies()[0], "before-update-2.0-to-2.1-" + std::to_string(VirtualClock::defaultStart.count() * 1000) + ".json");
    EXPECT_EQ(readText(m_folder / "data" / "snapshots" / copies()[0]), R"({"clients":[1]})");
    start("2.1");
    EXPECT_EQ(copies().size(), 1u);

    // Settings without lastVersion name the previous version "first"; a version that would
    // make a path is cleaned.
    writeText(m_folder / "data" / "config.json", R"({"backupFolder":"/b","lastVersion":"../../x y"})");
    m_clock.advance(std::chrono::seconds(1));
    start("2.2");
    EXPECT_EQ(copies("before-update-....xy-to-2.2-").size(), 1u);
    writeText(m_folder / "data" / "config.json", R"({"backupFolder":"/b"})");
    m_clock.advance(std::chrono::seconds(1));
    start("2.2");
    EXPECT_EQ(copies("before-update-first-to-2.2-").size(), 1u);
    EXPECT_EQ(config()["backupFolder"], "/b");

    // Settings that do not parse are put aside once, and the next start knows its version: one
    // safety copy, however often the program starts.
    writeText(m_folder / "data" / "config.json", "{\"backupFolder\": ");
    m_clock.advance(std::chrono::seconds(1));
    start("2.3");
    const auto aside = copies("unreadable-config-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readText(m_folder / "data" / "snapshots" / aside[0]), "{\"backupFolder\": ");
    EXPECT_EQ(config()["lastVersion"], "2.3");
    for (int launch = 0; launch < 3; ++launch) {
        m_clock.advance(std::chrono::seconds(1));
        start("2.3");
    }
    EXPECT_EQ(copies("before-update-first-to-2.3-").size(), 1u);
    EXPECT_EQ(copies("unreadable-config-").size(), 1u);
}

TEST_F(SafetyCopyTest, BeforeAnUpdateTheCopyIsVerified)
{
    auto store = start("2.1");
    EXPECT_TRUE(store->safetyCopyBeforeUpdate("2.2"));
    EXPECT_TRUE(copies().empty());

    writeText(dataFile(), "{\"not json");
    EXPECT_FALSE(store->safetyCopyBeforeUpdate("2.2"));
    EXPECT_TRUE(copies().empty());

    writeText(dataFile(), R"([1,2])");
    EXPECT_TRUE(store->safetyCopyBeforeUpdate("2.2 (beta 1)/.."));
    ASSERT_EQ(copies().size(), 1u);
    EXPECT_TRUE(copies()[0].starts_with("before-update-2.1-to-2.2beta1..-")) << copies()[0];
    EXPECT_TRUE(Store::isRestorableName(copies()[0]));

    // A snapshots folder that can't be made: false, and data.json untouched.
    fs::remove_all(m_folder / "data" / "snapshots");
    writeText(m_folder / "data" / "snapshots", "a file in the way");
    EXPECT_FALSE(store->safetyCopyBeforeUpdate("2.3"));
    EXPECT_EQ(readText(dataFile()), "[1,2]");
}

TEST_F(SafetyCopyTest, TheBetaQuestionIsAskedOnlyWhenItsDataIsNewer)
{
    EXPECT_FALSE(start("2.0")->betaIsNewer());
    writeText(betaFile(), R"({"beta":true})");
    EXPECT_TRUE(start("2.0")->betaIsNewer());
    EXPECT_FALSE(start("2.0", true)->betaIsNewer());

    writeText(dataFile(), R"({"main":true})");
    age(betaFile(), std::chrono::minutes(10));
    EXPECT_FALSE(start("2.0")->betaIsNewer());
    age(dataFile(), std::chrono::minutes(20));
    EXPECT_TRUE(start("2.0")->betaIsNewer());

    start("2.0")->adoptBetaData(false);
    EXPECT_EQ(config()["betaChecked"], "kept-main");
    EXPECT_FALSE(start("2.0")->betaIsNewer());
    EXPECT_EQ(readText(dataFile()), R"({"main":true})");
    EXPECT_EQ(copies(), std::vector<std::string> {});
}

TEST_F(SafetyCopyTest, AdoptingTheBetaDataKeepsACopyOfOursFirst)
{
    writeText(dataFile(), R"({"main":true})");
    writeText(betaFile(), "not json");
    start("2.0")->adoptBetaData(true);
    EXPECT_EQ(config()["betaChecked"], "used-beta");
    EXPECT_EQ(readText(dataFile()), R"({"main":true})");

    writeText(betaFile(), R"({"beta":true})");
    auto store = start("2.0");
    store->adoptBetaData(true);
    EXPECT_EQ(readText(dataFile()), R"({"beta":true})");
    EXPECT_EQ(readText(betaFile()), R"({"beta":true})");
    ASSERT_EQ(copies("before-restore-").size(), 1u);
    EXPECT_EQ(readText(m_folder / "data" / "snapshots" / copies("before-restore-")[0]), R"({"main":true})");
    EXPECT_EQ(store->load(), R"({"beta":true})");

    // Without a place for the copy, our data is not given up.
    writeText(dataFile(), R"({"main":2})");
    fs::remove_all(m_folder / "data" / "snapshots");
    writeText(m_folder / "data" / "snapshots", "a file in the way");
    start("2.0")->adoptBetaData(true);
    EXPECT_EQ(readText(dataFile()), R"({"main":2})");
}

TEST_F(SafetyCopyTest, TheStartUpQuestionDecidesBeforeThePageLoads)
{
    FakePanels panels;
    int pageLoads = 0;
    auto store = start("2.0");
    askAboutBetaData(*store, panels, nullptr, [&] { ++pageLoads; });
    EXPECT_EQ(pageLoads, 1);
    EXPECT_TRUE(panels.questions.empty());

    writeText(dataFile(), R"({"main":true})");
    writeText(betaFile(), R"({"beta":true})");
    age(dataFile(), std::chrono::minutes(5));
    store = start("2.0");
    askAboutBetaData(*store, panels, nullptr, [&] { ++pageLoads; });
    ASSERT_EQ(panels.questions.size(), 1u);
    EXPECT_EQ(pageLoads, 1);
    EXPECT_EQ(panels.questions[0].buttons.size(), 2u);
    panels.choose(0);
    EXPECT_EQ(pageLoads, 2);
    EXPECT_EQ(readText(dataFile()), R"({"beta":true})");

    // Closing the dialog some other way keeps our data.
    writeText(m_folder / "data" / "config.json", "{}");
    writeText(dataFile(), R"({"main":3})");
    age(dataFile(), std::chrono::minutes(5));
    store = start("2.0");
    askAboutBetaData(*store, panels, nullptr, [&] { ++pageLoads; });
    panels.choose(std::nullopt);
    EXPECT_EQ(pageLoads, 3);
    EXPECT_EQ(readText(dataFile()), R"({"main":3})");
    EXPECT_EQ(store->configString("betaChecked"), "kept-main");
}

}
}
