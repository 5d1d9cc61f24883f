#include "common/Error.h"
#include "common/Utf8.h"
#include "doubles/ScopedTimeZone.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/Store.h"

#include <fstream>
#include <gtest/gtest.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool hasHiddenFiles(const fs::path& folder)
{
    return std::any_of(fs::directory_iterator(folder), fs::directory_iterator(), [](const fs::directory_entry& entry) {
        return entry.path().filename().string().starts_with(".");
    });
}

class StoreTest : public testing::Test {
protected:
    fs::path dataDir() const { return m_root / "share" / "Quillpost"; }
    fs::path home() const { return m_root / "home"; }

    std::unique_ptr<Store> makeStore(bool overridden = false)
    {
        return std::make_unique<Store>(Store::Location { dataDir(), overridden, home(), home() / "Documents" }, Store::Services { m_clock, m_clock, m_clock });
    }

    TemporaryFolder m_folder { "quillpost-store" };
    const fs::path& m_root { m_folder.path() };
    VirtualClock m_clock;
};

TEST_F(StoreTest, SettingsAreReadOnceTypeCheckedAndKeepUnknownKeys)
{
    makeStore();
    EXPECT_TRUE(fs::is_directory(dataDir()));

    const std::string deep = "{\"future\": " + std::string(100'000, '[') + std::string(100'000, ']') + "}";
    std::vector<std::string> putAside;
    for (const std::string& unusable : { std::string("[1, 2]"), std::string("{\"broken\": "), std::string("{\"name\": \"\xC3\x28\"}"), deep, std::string() }) {
        writeText(dataDir() / "config.json", unusable);
        // Nothing is read from them; they go among the snapshots, each under a name of its own,
        // and the settings start afresh with only the version seen at this start.
        EXPECT_EQ(makeStore()->config(), (Json { { "lastVersion", QUILLPOST_VERSION } })) << unusable;
        EXPECT_EQ(Json::parse(readText(dataDir() / "config.json")), (Json { { "lastVersion", QUILLPOST_VERSION } })) << unusable;
        putAside.push_back(unusable);
    }
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dataDir() / "snapshots")) {
        if (entry.path().filename().string().starts_with("unreadable-config-"))
            found.push_back(readText(entry.path()));
    }
    std::sort(found.begin(), found.end());
    std::sort(putAside.begin(), putAside.end());
    EXPECT_EQ(found, putAside);

    writeText(dataDir() / "config.json", R"({"backupFolder": "/b", "printerPid": 42, "future": {"kept": [1]}})");
    const auto store = makeStore();
    EXPECT_EQ(store->configString("backupFolder"), "/b");
    EXPECT_EQ(store->configString("printerPid"), std::nullopt);

    store->config()["docsRoot"] = "/clients";
    store->saveConfig();
    const Json reread = Json::parse(readText(dataDir() / "config.json"));
    EXPECT_EQ(reread["future"], Json::parse(R"({"kept": [1]})"));
    EXPECT_EQ(reread["docsRoot"], "/clients");
}

TEST_F(StoreTest, LoadFallsBackToBakThenNullAndSaysWhatItFound)
{
    const auto store = makeStore();
    EXPECT_EQ(store->load(), "null");
    EXPECT_EQ(store->lastLoad().dataFile, Store::DataFileState::Missing);
    EXPECT_EQ(store->lastLoad().source, "");

    const std::string backup = "  {\"clients\": []}\n";
    writeText(dataDir() / "data.json.bak", backup);
    EXPECT_EQ(store->load(), backup);
    EXPECT_EQ(store->lastLoad().dataFile, Store::DataFileState::Missing);
    EXPECT_EQ(store->lastLoad().source, "data.json.bak");
    EXPECT_FALSE(store->lastLoad().at.empty());
    for (const std::string broken : { "{\"clients\": [", "null", "42", "{\"deep\": [{\"name\": \"\xFF\"}]}" }) {
        writeText(store->data(), broken);
        EXPECT_EQ(store->load(), backup) << broken;
        EXPECT_EQ(readText(store->data()), broken);
    }

    writeText(dataDir() / "data.json.bak", "true");
    EXPECT_EQ(store->load(), "null");

    writeText(store->data(), "{\"v\": \"\\ud83d cut\"}");
    EXPECT_EQ(store->load(), "{\"v\": \"\\ud83d cut\"}");
    EXPECT_EQ(store->lastLoad().dataFile, Store::DataFileState::Whole);
    EXPECT_EQ(store->lastLoad().source, "data.json");
}

TEST_F(StoreTest, AcceptsTextThatThePageAndEditorsWrite)
{
    const auto store = makeStore();
    // Half of a surrogate pair, as JSON.stringify writes a cut emoji; the escaped backslash before
    // the second "u" is not an escape of its own.
    const std::string cutEmoji = R"({"clients":[{"name":"Ana \ud83d","note":"C:\\udcfolder","pair":"\ud83d\ude00"}],"enc":true,"v":2,"people":[{"salt":"\udc00","priv":{},"dk":{}}]})";
    store->save(cutEmoji);
    EXPECT_EQ(readText(store->data()), cutEmoji);
    EXPECT_EQ(store->load(), cutEmoji);
    EXPECT_FALSE(Store::openable(R"({"enc":true,"v":2,"people":[{"salt":"\ud83d","priv":{}}]})"));

    // A byte-order mark left by a text editor is not part of the document the page reads.
    writeText(store->data(), "\xEF\xBB\xBF{\"clients\": []}");
    EXPECT_EQ(store->load(), "{\"clients\": []}");

    // A setting that is not UTF-8 does not stop the settings file from being written.
    store->config()["backupFolder"] = std::string("/media/caf\xE9");
    store->config()["lastVersion"] = "0.1.0";
    store->saveConfig();
    EXPECT_NE(readText(dataDir() / "config.json").find("0.1.0"), std::string::npos);
}

TEST(StoreOpenCheck, DemandsPersonEntriesOnlyOfEncryptedVersionTwo)
{
    const std::string person = R"({"salt":"s","priv":{"k":[1,{"x":2}]},"dk":{},"name":"n"})";
    const std::vector<std::pair<std::string, bool>> cases {
        { "not json", false },
        { "{\"clients\": [{\"name\": \"\xFF\"}], \"enc\": false}", false },
        { "null", true },
        { R"([{"enc":true,"v":2,"people":[]}])", true },
        { R"({"enc":true,"v":2,"people":[]})", false },
        { R"({"enc":true,"v":2})", false },
        { R"({"enc":true,"v":2,"people":[)" + person + R"(],"clients":[{"people":[]}]})", true },
        { R"({"enc":true,"v":2.0,"people":[]})", false },
        { R"({"enc":true,"v":2,"people":[)" + person + ",5]}", false },
        { R"({"enc":true,"v":2,"people":[{"salt":"s","priv":{},"dk":[]}]})", false },
        { R"({"enc":true,"v":2,"people":[{"salt":1,"priv":{},"dk":{}}]})", false },
        { R"({"enc":true,"v":2,"people":[{"salt":"s","dk":{}}]})", false },
        { R"({"enc":true,"v":1})", true },
        { R"({"enc":true,"v":"2"})", true },
        { R"({"enc":"yes","v":2})", true },
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Store::openable(text), expected) << text;
}

TEST_F(StoreTest, SaveRefusesADocumentThatWouldNotOpenAndChangesNothing)
{
    const auto store = makeStore();
    writeText(store->data(), "{\"now\": 1}");
    writeText(dataDir() / "data.json.bak", "{\"before\": 1}");

    try {
        store->save(R"({"enc":true,"v":2,"people":[]})");
        ADD_FAILURE() << "saved";
    } catch (const QuillpostError& error) {
        EXPECT_EQ(error.code(), 2);
        EXPECT_STREQ(error.what(), "Quillpost didn't save, because the saved copy would not open again. Your data is unchanged.");
    }
    EXPECT_EQ(readText(store->data()), "{\"now\": 1}");
    EXPECT_EQ(readText(dataDir() / "data.json.bak"), "{\"before\": 1}");
    EXPECT_FALSE(fs::exists(store->snapshotsDir()));
}

TEST_F(StoreTest, SaveRefreshesBakAndKeepsTheFirstStateOfTheDay)
{
    const auto store = makeStore();
    const fs::path todaySnapshot = store->snapshotsDir() / ("data-" + store->today() + ".json");

    store->save(R"({"clients":[1]})");
    store->save(R"({"clients":[1,2]})");
    EXPECT_EQ(readText(store->data()), R"({"clients":[1,2]})");
    EXPECT_EQ(fs::status(store->data()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(readText(dataDir() / "data.json.bak"), R"({"clients":[1]})");
    EXPECT_EQ(readText(todaySnapshot), R"({"clients":[1]})");

    // "null" is written, but makes no snapshot and no backup; load then falls back to .bak.
    store->config()["backupFolder"] = (m_root / "backup").string();
    m_clock.setNow(m_clock.now() + 24h);
    store->save("null");
    EXPECT_EQ(readText(store->data()), "null");
    EXPECT_EQ(store->snapshots().size(), 1u);
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
    EXPECT_EQ(store->load(), R"({"clients":[1,2]})");
}

TEST_F(StoreTest, DailySnapshotsKeepTheNewestThirtyAndNeverTouchSafetyCopies)
{
    const auto store = makeStore();
    const std::vector<std::string> untouchable { "before-update-1.0-to-1.1-5.json", "before-restore-7.json", "data-2024-5-1.json" };
    for (const std::string& name : untouchable)
        writeText(store->snapshotsDir() / name, "{}");

    for (int day = 1; day <= 31; ++day) {
        store->save("{\"day\": " + std::to_string(day) + "}");
        m_clock.setNow(m_clock.now() + 24h);
    }

    const std::vector<std::string> daily = store->snapshots();
    ASSERT_EQ(daily.size(), 30u);
    EXPECT_EQ(daily.front(), "data-2024-05-31.json");
    EXPECT_EQ(daily.back(), "data-2024-05-02.json");
    for (const std::string& name : untouchable)
        EXPECT_TRUE(fs::exists(store->snapshotsDir() / name)) << name;
}

TEST_F(StoreTest, FailedWritesReachTheCallerAndLeaveNoTemporaryFiles)
{
    const auto store = makeStore();
    store->config()["backupFolder"] = (m_root / "backup").string();
    fs::create_directories(store->data() / "occupied");
    EXPECT_THROW(store->save("{}"), FileError);
    EXPECT_FALSE(fs::exists(store->snapshotsDir()));
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
    EXPECT_FALSE(hasHiddenFiles(dataDir()));

    writeText(m_root / "plain", "x");
    try {
        Store::atomicWrite(m_root / "plain" / "sub" / "file.json", "x");
        ADD_FAILURE() << "wrote below a file";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find((m_root / "plain").string()), std::string::npos) << error.what();
    }
}

TEST_F(StoreTest, TodayIsTheLocalDate)
{
    const auto store = makeStore();
    m_clock.setNow(Clock::TimePoint(VirtualClock::defaultStart + 15h)); // 2024-05-02T03:00:00Z
    for (const auto& [zone, day] : { std::pair { "EST5", "2024-05-01" }, std::pair { "UTC0", "2024-05-02" } }) {
        ScopedTimeZone scoped(zone);
        EXPECT_EQ(store->today(), day) << zone;
    }
}

TEST(StoreUtf8, ReplacesEachIllFormedSubpart)
{
    const std::string valid = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
    EXPECT_EQ(validUtf8(valid), valid);
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(validUtf8("\xC3\x28"), replacement + "(");
    EXPECT_EQ(validUtf8("\xF0\x9F\x98" "A"), replacement + "A");
    EXPECT_EQ(validUtf8("a\xE2\x82"), "a" + replacement);
    EXPECT_EQ(validUtf8("\xC0\xAF"), replacement + replacement); // overlong
    EXPECT_EQ(validUtf8("\xED\xA0\x80"), replacement + replacement + replacement); // surrogate
}

}
}
