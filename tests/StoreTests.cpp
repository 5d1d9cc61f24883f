#include "common/Error.h"
#include "common/Utf8.h"
#include "doubles/VirtualClock.h"
#include "store/Store.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void writeText(const fs::path& path, std::string_view text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

std::vector<std::string> leftoverTemporaries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("."))
            names.push_back(entry.path().filename().string());
    }
    return names;
}

class StoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "quillpost-store-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    fs::path dataDir() const { return m_root / "share" / "Quillpost"; }
    fs::path home() const { return m_root / "home"; }

    std::unique_ptr<Store> makeStore(bool overridden = false)
    {
        return std::make_unique<Store>(Store::Location { dataDir(), overridden, home(), home() / "Documents" }, Store::Services { m_clock, m_clock, m_clock });
    }

    fs::path m_root;
    VirtualClock m_clock;
};

TEST_F(StoreTest, ConstructionCreatesTheFolderAndSettingsKeepUnknownKeys)
{
    makeStore();
    EXPECT_TRUE(fs::is_directory(dataDir()));

    writeText(dataDir() / "config.json", R"({"backupFolder": "/b", "printerPid": 42, "future": {"kept": [1, 2]}})");
    auto store = makeStore();
    EXPECT_EQ(store->configString("backupFolder"), "/b");
    EXPECT_EQ(store->configString("printerPid"), std::nullopt);
    EXPECT_EQ(store->configString("missing"), std::nullopt);

    store->config()["docsRoot"] = "/clients";
    store->saveConfig();
    const std::string written = readText(dataDir() / "config.json");
    EXPECT_NE(written.find("\n    \""), std::string::npos) << written;
    const Json reread = Json::parse(written);
    EXPECT_EQ(reread["future"], Json::parse(R"({"kept": [1, 2]})"));
    EXPECT_EQ(reread["docsRoot"], "/clients");
    EXPECT_EQ(reread["printerPid"], 42);
}

TEST_F(StoreTest, UnusableSettingsGiveEmptySettingsAndAreNotRewritten)
{
    for (const std::string text : { "[1, 2]", "{\"broken\": ", "\"text\"", "{\"name\": \"\xC3\x28\"}", "" }) {
        writeText(dataDir() / "config.json", text);
        const auto store = makeStore();
        EXPECT_EQ(store->config(), Json::object()) << text;
        EXPECT_EQ(readText(dataDir() / "config.json"), text);
    }
}

TEST_F(StoreTest, FailedSettingsWriteIsSilent)
{
    const auto store = makeStore();
    fs::create_directories(dataDir() / "config.json" / "occupied");
    store->config()["printer"] = "off";
    EXPECT_NO_THROW(store->saveConfig());
    EXPECT_TRUE(fs::is_directory(dataDir() / "config.json"));
    EXPECT_TRUE(leftoverTemporaries(dataDir()).empty());
}

TEST_F(StoreTest, LoadFallsBackToBakThenNull)
{
    const auto store = makeStore();
    EXPECT_EQ(store->load(), "null");

    const std::string backup = "  {\"clients\": []}\n";
    writeText(dataDir() / "data.json.bak", backup);
    for (const std::string broken : { "{\"clients\": [", "null", "42", "\"text\"", "{\"name\": \"\xFF\"}" }) {
        writeText(store->data(), broken);
        EXPECT_EQ(store->load(), backup) << broken;
        EXPECT_EQ(readText(store->data()), broken);
        EXPECT_EQ(readText(dataDir() / "data.json.bak"), backup);
    }

    writeText(dataDir() / "data.json.bak", "true");
    EXPECT_EQ(store->load(), "null");

    writeText(store->data(), "[1,\n 2]");
    EXPECT_EQ(store->load(), "[1,\n 2]");
}

TEST(StoreOpenCheck, DemandsPersonEntriesOnlyOfEncryptedVersionTwo)
{
    const std::string person = R"({"salt":"s","priv":{},"dk":{}})";
    const std::vector<std::pair<std::string, bool>> cases {
        { "not json", false },
        { "", false },
        { "{\"name\": \"\xC3\x28\"}", false },
        { "null", true },
        { "[]", true },
        { R"({"enc":true,"v":2,"people":[]})", false },
        { R"({"enc":true,"v":2})", false },
        { R"({"enc":true,"v":2,"people":)" + person + "}", false },
        { R"({"enc":true,"v":2,"people":[)" + person + "]}", true },
        { R"({"enc":true,"v":2.0,"people":[]})", false },
        { R"({"enc":true,"v":2,"people":[)" + person + ",5]}", false },
        { R"({"enc":true,"v":2,"people":[)" + person + R"(,{"salt":"s","priv":{},"dk":[]}]})", false },
        { R"({"enc":true,"v":2,"people":[{"salt":1,"priv":{},"dk":{}}]})", false },
        { R"({"enc":true,"v":2,"people":[{"salt":"s","dk":{}}]})", false },
        { R"({"enc":true,"v":1})", true },
        { R"({"enc":true,"v":"2"})", true },
        { R"({"enc":"yes","v":2})", true },
        { R"({"enc":1,"v":2})", true },
        { R"({"enc":false,"v":2})", true },
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Store::openable(text), expected) << text;
}

TEST_F(StoreTest, SaveRefusesADocumentThatWouldNotOpenAndChangesNothing)
{
    const auto store = makeStore();
    writeText(store->data(), "{\"now\": 1}");
    writeText(dataDir() / "data.json.bak", "{\"before\": 1}");

    for (const std::string refused : { "{\"clients\": [", R"({"enc":true,"v":2,"people":[]})" }) {
        try {
            store->save(refused);
            ADD_FAILURE() << "saved " << refused;
        } catch (const QuillpostError& error) {
            EXPECT_EQ(error.code(), 2);
            EXPECT_STREQ(error.what(), "Quillpost didn't save, because the saved copy would not open again. Your data is unchanged.");
        }
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
    EXPECT_FALSE(fs::exists(dataDir() / "data.json.bak"));
    EXPECT_EQ(readText(todaySnapshot), R"({"clients":[1]})");
    EXPECT_EQ(fs::status(store->data()).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    store->save(R"({"clients":[1,2]})");
    EXPECT_EQ(readText(store->data()), R"({"clients":[1,2]})");
    EXPECT_EQ(readText(dataDir() / "data.json.bak"), R"({"clients":[1]})");
    EXPECT_EQ(readText(todaySnapshot), R"({"clients":[1]})");
    EXPECT_EQ(store->load(), R"({"clients":[1,2]})");
}

TEST_F(StoreTest, SavingNullWritesOnlyTheDataFile)
{
    const auto store = makeStore();
    store->config()["backupFolder"] = (m_root / "backup").string();
    store->save(R"({"clients":[]})");
    m_clock.setNow(m_clock.now() + 24h);

    store->save("null");
    EXPECT_EQ(readText(store->data()), "null");
    EXPECT_EQ(store->snapshots().size(), 1u);
    EXPECT_EQ(store->load(), R"({"clients":[]})");

    // The backup still carries the last real document, not "null".
    m_clock.advance(1500ms);
    m_clock.runBackground();
    EXPECT_EQ(readText(m_root / "backup" / "Quillpost-backup.json"), R"({"clients":[]})");
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
    EXPECT_FALSE(fs::exists(store->snapshotsDir() / "data-2024-05-01.json"));
    for (const std::string& name : untouchable)
        EXPECT_TRUE(fs::exists(store->snapshotsDir() / name)) << name;
}

TEST_F(StoreTest, FailedDataWriteReachesTheCallerAndStopsTheSave)
{
    const auto store = makeStore();
    store->config()["backupFolder"] = (m_root / "backup").string();
    fs::create_directories(store->data() / "occupied");

    EXPECT_THROW(store->save("{}"), FileError);
    EXPECT_FALSE(fs::exists(store->snapshotsDir()));
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
    EXPECT_TRUE(leftoverTemporaries(dataDir()).empty());
}

TEST_F(StoreTest, AtomicWriteCreatesFoldersReplacesWholeAndCleansUpOnFailure)
{
    const fs::path target = m_root / "a" / "b" / "file.json";
    Store::atomicWrite(target, "first");
    Store::atomicWrite(target, "second");
    EXPECT_EQ(readText(target), "second");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(leftoverTemporaries(target.parent_path()).empty());

    writeText(m_root / "plain", "x");
    try {
        Store::atomicWrite(m_root / "plain" / "sub" / "file.json", "x");
        ADD_FAILURE() << "wrote below a file";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find((m_root / "plain").string()), std::string::npos) << error.what();
    }

    fs::create_directories(m_root / "folder" / "inside");
    EXPECT_THROW(Store::atomicWrite(m_root / "folder", "x"), FileError);
    EXPECT_TRUE(leftoverTemporaries(m_root).empty());
}

class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        if (const char* previous = std::getenv("TZ"))
            m_previous = previous;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone()
    {
        if (m_previous)
            ::setenv("TZ", m_previous->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_previous;
};

TEST_F(StoreTest, TodayIsTheLocalDate)
{
    const auto store = makeStore();
    m_clock.setNow(Clock::TimePoint(VirtualClock::defaultStart + 15h)); // 2024-05-02T03:00:00Z
    {
        const TimeZone newYork("EST5");
        EXPECT_EQ(store->today(), "2024-05-01");
    }
    const TimeZone utc("UTC0");
    EXPECT_EQ(store->today(), "2024-05-02");
}

TEST_F(StoreTest, DocsRootFollowsSettingThenOverrideThenDocuments)
{
    EXPECT_EQ(makeStore()->docsRoot(), home() / "Documents" / "Quillpost" / "Clients");
    const auto overridden = makeStore(true);
    EXPECT_EQ(overridden->docsRoot(), dataDir() / "Clients");
    overridden->config()["docsRoot"] = "/srv/clients";
    EXPECT_EQ(overridden->docsRoot(), fs::path("/srv/clients"));
    overridden->config()["docsRoot"] = 7;
    EXPECT_EQ(overridden->docsRoot(), dataDir() / "Clients");
}

TEST_F(StoreTest, DetectDriveSearchesCloudStorageThenLegacyFolders)
{
    const auto store = makeStore();
    EXPECT_EQ(store->detectDrive(), std::nullopt);

    writeText(home() / "Google Drive", "not a folder");
    EXPECT_EQ(store->detectDrive(), std::nullopt);
    fs::remove(home() / "Google Drive");
    fs::create_directories(home() / "Google Drive");
    EXPECT_EQ(store->detectDrive(), home() / "Google Drive");
    fs::create_directories(home() / "Google Drive" / "My Drive");
    EXPECT_EQ(store->detectDrive(), home() / "Google Drive" / "My Drive");

    const fs::path cloud = home() / "Library" / "CloudStorage";
    fs::create_directories(cloud / "Dropbox");
    fs::create_directories(cloud / "GoogleDrive-a@example.com");
    EXPECT_EQ(store->detectDrive(), cloud / "GoogleDrive-a@example.com");
    fs::create_directories(cloud / "GoogleDrive-a@example.com" / "Meine Ablage");
    fs::create_directories(cloud / "GoogleDrive-a@example.com" / "Mon disque");
    EXPECT_EQ(store->detectDrive(), cloud / "GoogleDrive-a@example.com" / "Mon disque");
}

TEST(StoreUtf8, ReplacesEachIllFormedSubpart)
{
    EXPECT_EQ(validUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(validUtf8("\xC3\x28"), replacement + "(");
    EXPECT_EQ(validUtf8("a\xE2\x82"), "a" + replacement);
    EXPECT_EQ(validUtf8("\xF0\x9F\x98" "A"), replacement + "A");
    EXPECT_EQ(validUtf8("\xC0\xAF"), replacement + replacement);
    EXPECT_EQ(validUtf8("\xED\xA0\x80"), replacement + replacement + replacement);
    EXPECT_EQ(validUtf8("\xF4\x90\x80\x80"), replacement + replacement + replacement + replacement);
    EXPECT_EQ(validUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

}
}
