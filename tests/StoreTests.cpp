#include "common/Error.h"
#include "common/Utf8.h"
#include "doubles/ScopedTimeZone.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/AtomicFile.h"
#include "store/Store.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Makes every write past `bytes` fail with EFBIG, the way a full disk fails a write part-way,
// without needing a small file system (root ignores permission bits, and mounting needs root).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limited = m_previous;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_previous {};
    void (*m_previousHandler)(int) { nullptr };
};

// Folder syncs that fail with an I/O error, as a failing or pulled disk's do, after the files
// themselves were written and renamed.
class FailingFolderSync {
public:
    FailingFolderSync()
    {
        setFolderSyncForTesting([](int) {
            errno = EIO;
            return -1;
        });
    }
    ~FailingFolderSync() { setFolderSyncForTesting(nullptr); }
};

// What a save that fails says; nothing when it saves.
std::string saveFailure(Store& store, const std::string& document)
{
    try {
        store.save(document);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return {};
}

class StoreTest : public testing::Test {
protected:
    std::unique_ptr<Store> makeStore()
    {
        return std::make_unique<Store>(Store::Location { dir(), true, m_root, m_root }, Store::Services { m_clock, m_clock, m_clock });
    }

    fs::path dir() const { return m_root / "data"; }
    fs::path data() const { return dir() / "data.json"; }
    fs::path bak() const { return dir() / "data.json.bak"; }
    fs::path snapshots() const { return dir() / "snapshots"; }
    std::vector<std::string> putAside() const { return namesIn(snapshots(), "unreadable-data-"); }

    TemporaryFolder m_folder { "quillpost-store" };
    const fs::path& m_root { m_folder.path() };
    VirtualClock m_clock;
};

TEST_F(StoreTest, SettingsAreReadOnceTypeCheckedAndKeepUnknownKeys)
{
    const Json fresh { { "lastVersion", QUILLPOST_VERSION } };
    const std::string deep = "{\"future\": " + std::string(100'000, '[') + std::string(100'000, ']') + "}";
    std::vector<std::string> unusable { "[1, 2]", "{\"broken\": ", "{\"name\": \"\xC3\x28\"}", deep, "" };
    for (const std::string& text : unusable) {
        writeText(dir() / "config.json", text);
        // Nothing is read from them; they go among the snapshots, each under a name of its own,
        // and the settings start afresh with only the version seen at this start.
        EXPECT_EQ(makeStore()->config(), fresh) << text;
        EXPECT_EQ(Json::parse(readText(dir() / "config.json")), fresh) << text;
    }
    std::vector<std::string> found;
    for (const auto& name : namesIn(snapshots(), "unreadable-config-"))
        found.push_back(readText(snapshots() / name));
    std::sort(found.begin(), found.end());
    std::sort(unusable.begin(), unusable.end());
    EXPECT_EQ(found, unusable);

    writeText(dir() / "config.json", R"({"backupFolder": "/b", "printerPid": 42, "future": {"kept": [1]}})");
    const auto store = makeStore();
    EXPECT_EQ(store->configString("backupFolder"), "/b");
    EXPECT_EQ(store->configString("printerPid"), std::nullopt);
    store->config()["docsRoot"] = "/clients";
    store->saveConfig();
    const Json reread = Json::parse(readText(dir() / "config.json"));
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
    writeText(bak(), backup);
    EXPECT_EQ(store->load(), backup);
    EXPECT_EQ(store->lastLoad().dataFile, Store::DataFileState::Missing);
    EXPECT_EQ(store->lastLoad().source, "data.json.bak");
    EXPECT_FALSE(store->lastLoad().at.empty());
    for (const std::string broken : { "{\"clients\": [", "null", "42", "{\"deep\": [{\"name\": \"\xFF\"}]}" }) {
        writeText(data(), broken);
        EXPECT_EQ(store->load(), backup) << broken;
        EXPECT_EQ(readText(data()), broken);
    }
    writeText(bak(), "true");
    EXPECT_EQ(store->load(), "null");

    writeText(data(), "{\"v\": \"\\ud83d cut\"}");
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
    EXPECT_EQ(readText(data()), cutEmoji);
    EXPECT_EQ(store->load(), cutEmoji);

    // A byte-order mark left by a text editor is not part of the document the page reads.
    writeText(data(), "\xEF\xBB\xBF{\"clients\": []}");
    EXPECT_EQ(store->load(), "{\"clients\": []}");

    // A setting that is not UTF-8 does not stop the settings file from being written.
    store->config()["backupFolder"] = std::string("/media/caf\xE9");
    store->config()["lastVersion"] = "0.1.0";
    store->saveConfig();
    EXPECT_NE(readText(dir() / "config.json").find("0.1.0"), std::string::npos);
}

TEST_F(StoreTest, SaveRefusesADocumentThatWouldNotOpenAndChangesNothing)
{
    const auto store = makeStore();
    writeText(data(), "{\"now\": 1}");
    writeText(bak(), "{\"before\": 1}");
    try {
        store->save(R"({"enc":true,"v":2,"people":[]})");
        ADD_FAILURE() << "saved";
    } catch (const QuillpostError& error) {
        EXPECT_EQ(error.code(), 2);
    }
    EXPECT_EQ(readText(data()), "{\"now\": 1}");
    EXPECT_EQ(readText(bak()), "{\"before\": 1}");
    EXPECT_FALSE(fs::exists(snapshots()));
}

TEST_F(StoreTest, EachSaveMakesThePreviousFileTheBakAndKeepsTheFirstStateOfTheDay)
{
    const auto store = makeStore();
    store->save(R"({"n":1})");
    store->save(R"({"n":2})");
    EXPECT_EQ(readText(bak()), R"({"n":1})");
    EXPECT_EQ(fs::status(data()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    struct stat previous {};
    ASSERT_EQ(::stat(data().c_str(), &previous), 0);

    store->save(R"({"n":3})");
    EXPECT_EQ(readText(data()), R"({"n":3})");
    EXPECT_EQ(readText(bak()), R"({"n":2})");
    struct stat rotated {};
    ASSERT_EQ(::stat(bak().c_str(), &rotated), 0);
    EXPECT_EQ(rotated.st_ino, previous.st_ino) << "the .bak is the previous file itself, not a copy";
    EXPECT_EQ(readText(snapshots() / ("data-" + store->today() + ".json")), R"({"n":1})");
    EXPECT_EQ(namesIn(dir()), (std::vector<std::string> { "config.json", "data.json", "data.json.bak", "snapshots" }));
}

TEST_F(StoreTest, ANullDocumentIsWrittenButNeverPushesTheLastOneOutOfBak)
{
    const auto store = makeStore();
    store->save(R"({"kept":1})");
    store->save(R"({"kept":2})");
    store->config()["backupFolder"] = (m_root / "backup").string();
    m_clock.setNow(m_clock.now() + 24h);
    store->save("null");
    EXPECT_EQ(readText(data()), "null");
    EXPECT_EQ(store->snapshots().size(), 1u) << "no snapshot of it";
    EXPECT_EQ(m_clock.pendingTimers(), 0u) << "and no backup";
    EXPECT_EQ(store->load(), R"({"kept":2})");
    EXPECT_EQ(store->lastLoad().dataFile, Store::DataFileState::Empty);

    store->save(R"({"next":1})");
    EXPECT_EQ(readText(bak()), R"({"kept":2})");
    EXPECT_TRUE(putAside().empty());
}

TEST_F(StoreTest, DailySnapshotsKeepTheNewestThirtyAndNeverTouchSafetyCopies)
{
    const auto store = makeStore();
    const std::vector<std::string> untouchable { "before-update-1.0-to-1.1-5.json", "before-restore-7.json", "data-2024-5-1.json" };
    for (const std::string& name : untouchable)
        writeText(snapshots() / name, "{}");
    for (int day = 1; day <= 31; ++day) {
        store->save("{\"day\": " + std::to_string(day) + "}");
        m_clock.setNow(m_clock.now() + 24h);
    }
    const std::vector<std::string> daily = store->snapshots();
    ASSERT_EQ(daily.size(), 30u);
    EXPECT_EQ(daily.front(), "data-2024-05-31.json");
    EXPECT_EQ(daily.back(), "data-2024-05-02.json");
    for (const std::string& name : untouchable)
        EXPECT_TRUE(fs::exists(snapshots() / name)) << name;
}

TEST_F(StoreTest, FailedWritesReachTheCallerAndLeaveNoTemporaryFiles)
{
    const auto store = makeStore();
    store->config()["backupFolder"] = (m_root / "backup").string();
    fs::create_directories(data() / "occupied");
    EXPECT_THROW(store->save("{}"), FileError);
    EXPECT_FALSE(fs::exists(snapshots()));
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
    EXPECT_TRUE(namesIn(dir(), ".").empty());

    writeText(m_root / "plain", "x");
    try {
        Store::atomicWrite(m_root / "plain" / "sub" / "file.json", "x");
        ADD_FAILURE() << "wrote below a file";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find((m_root / "plain").string()), std::string::npos) << error.what();
    }
}

TEST_F(StoreTest, AFailedSaveLeavesEveryFileAsItWasAndSaysWhy)
{
    const auto store = makeStore();
    const std::string older = R"({"clients":["older"]})";
    const std::string current = "{\"clients\":[\"" + std::string(100'000, 'c') + "\"]}";
    store->save(older);
    store->save(current);
    const auto before = namesIn(dir());
    const auto snapshotsBefore = namesIn(snapshots());

    const std::string larger = "{\"clients\":[\"" + std::string(300'000, 'n') + "\"]}";
    std::string message;
    {
        FileSizeLimit limit(200'000);
        message = saveFailure(*store, larger);
    }
    EXPECT_NE(message.find("because the disk doesn't take a file this large"), std::string::npos) << message;
    EXPECT_NE(message.find("Your data is unchanged."), std::string::npos) << message;
    EXPECT_EQ(message.find("data.json"), std::string::npos) << "the data file was not touched: " << message;
    EXPECT_EQ(readText(data()), current);
    EXPECT_EQ(readText(bak()), older);
    EXPECT_EQ(namesIn(dir()), before) << "no temporary file remains";
    EXPECT_EQ(namesIn(snapshots()), snapshotsBefore);

    // Once the disk takes it again, the same save goes through.
    store->save(larger);
    EXPECT_EQ(readText(data()), larger);
    EXPECT_EQ(readText(bak()), current);
}

TEST_F(StoreTest, AFolderSyncThatFailsAfterTheRenameSaysTheChangesAreWrittenButNotYetSafe)
{
    const auto store = makeStore();
    const std::string current = R"({"clients":["current"]})";
    store->save(R"({"clients":["older"]})");
    store->save(current);
    // A small document, and one large enough to be checked beside its write.
    const std::string large = "{\"clients\":[\"" + std::string(300'000, 'n') + "\"]}";
    for (const std::string& newer : { std::string(R"({"clients":["newer"]})"), large }) {
        const std::string previous = readText(data());
        std::string message;
        {
            FailingFolderSync failing;
            message = saveFailure(*store, newer);
        }
        EXPECT_NE(message.find("wrote your changes into its data folder \"" + dir().string() + "\", but the disk then reported"), std::string::npos) << message;
        EXPECT_NE(message.find(std::make_error_code(std::errc::io_error).message()), std::string::npos) << message;
        EXPECT_EQ(message.find("unchanged"), std::string::npos) << message;
        EXPECT_EQ(readText(data()), newer);
        EXPECT_EQ(readText(bak()), previous);
    }
    // The next save on a working disk rotates the file it wrote, as after any save.
    store->save(current);
    EXPECT_EQ(readText(data()), current);
    EXPECT_EQ(readText(bak()), large);
}

TEST_F(StoreTest, ADataFolderThatVanishedIsNotMadeAgainBehindTheUsersBack)
{
    const auto store = makeStore();
    store->save(R"({"n":1})");
    fs::remove_all(dir());
    const std::string message = saveFailure(*store, R"({"n":2})");
    EXPECT_NE(message.find("is gone: it was moved or deleted, or its disk was removed"), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(dir()));
}

TEST_F(StoreTest, ADataFileThatDoesNotOpenIsPutAsideNeverPushedOut)
{
    const std::string good = R"({"clients":["from the bak"]})";
    const std::string damaged = "{\"clients\":[\"nineteen records, cut short";
    writeText(bak(), good);
    writeText(data(), damaged);
    const auto store = makeStore();
    EXPECT_EQ(store->load(), good);
    EXPECT_EQ(store->lastLoad().dataFile, Store::DataFileState::Unreadable);
    EXPECT_EQ(store->lastLoad().source, "data.json.bak");
    for (int save = 1; save <= 3; ++save)
        store->save("{\"save\":" + std::to_string(save) + "}");

    // The damaged file survives as a visible safety copy, and the good .bak was never replaced by it.
    ASSERT_EQ(putAside().size(), 1u);
    EXPECT_EQ(readText(snapshots() / putAside().front()), damaged);
    EXPECT_EQ(readText(bak()), R"({"save":2})");
    const auto listed = store->allSnapshots();
    EXPECT_NE(std::find(listed.begin(), listed.end(), putAside().front()), listed.end());

    // The same holds without any .bak, and when the file is damaged behind the store's back.
    fs::remove(bak());
    writeText(data(), "\xFF\xFE garbage");
    m_clock.setNow(m_clock.now() + 1s);
    store->save(R"({"save":4})");
    ASSERT_EQ(putAside().size(), 2u);
    EXPECT_EQ(readText(snapshots() / putAside().back()), "\xFF\xFE garbage");
    EXPECT_FALSE(fs::exists(bak())) << "garbage never becomes the .bak";
}

TEST_F(StoreTest, StartRemovesTemporaryFilesThatACrashLeftBehind)
{
    for (const auto* name : { ".data.json.Ab3xYz", ".data.json.bak.q1w2e3", ".config.json.000000" })
        writeText(dir() / name, "torn");
    for (const auto* name : { ".data.json.toolong7", ".hidden-notes", "data.json", ".data.json.a-b_cd" })
        writeText(dir() / name, "{}");
    writeText(snapshots() / ".data-2024-05-01.json.XYZ123", "torn");
    writeText(snapshots() / "data-2024-05-01.json", "{}");

    makeStore();
    EXPECT_EQ(namesIn(dir()),
        (std::vector<std::string> { ".data.json.a-b_cd", ".data.json.toolong7", ".hidden-notes", "config.json", "data.json", "snapshots" }));
    // Besides the daily snapshot, only the safety copy a first start under this version takes.
    EXPECT_EQ(namesIn(snapshots()), (std::vector<std::string> { "before-update-first-to-" QUILLPOST_VERSION "-1714564800000.json", "data-2024-05-01.json" }));
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
    const std::string bad = "\xEF\xBF\xBD";
    for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>> { { valid, valid }, { "\xC3\x28", bad + "(" },
             { "\xF0\x9F\x98" "A", bad + "A" }, { "a\xE2\x82", "a" + bad }, { "\xC0\xAF", bad + bad }, { "\xED\xA0\x80", bad + bad + bad } })
    {
        EXPECT_EQ(validUtf8(text), expected) << text;
        EXPECT_EQ(validUtf8(std::string(text)), expected) << text;
        EXPECT_EQ(validUtf8(std::string(11, 'x') + text), std::string(11, 'x') + expected) << text;
    }
}

}
}
