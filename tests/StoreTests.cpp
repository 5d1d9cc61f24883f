#include "app/BetaDataQuestion.h"
#include "common/Error.h"
#include "common/Utf8.h"
#include "doubles/DesktopDoubles.h"
#include "doubles/ScopedTimeZone.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/AtomicFile.h"
#include "store/Store.h"

#include <csignal>
#include <regex>
#include <set>
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
    std::unique_ptr<Store> makeStore(const std::string& version = QUILLPOST_VERSION, bool overridden = true)
    {
        Store::Location location { dir(), overridden, m_root / "home", m_root / "home" / "Documents" };
        location.betaDataFile = betaFile();
        location.version = version;
        return std::make_unique<Store>(location, Store::Services { m_clock, m_clock, m_clock });
    }

    fs::path dir() const { return m_root / "data"; }
    fs::path data() const { return dir() / "data.json"; }
    fs::path bak() const { return dir() / "data.json.bak"; }
    fs::path snapshots() const { return dir() / "snapshots"; }
    fs::path betaFile() const { return m_root / "share" / "Quillpost Beta" / "data.json"; }
    std::vector<std::string> copies(std::string_view prefix = "") const { return namesIn(snapshots(), prefix); }
    std::vector<std::string> putAside() const { return copies("unreadable-data-"); }
    Json config() const { return Json::parse(readText(dir() / "config.json")); }

    static void age(const fs::path& path, std::chrono::minutes by) { fs::last_write_time(path, fs::file_time_type::clock::now() - by); }

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
        EXPECT_EQ(makeStore()->config(), fresh) << text;
        EXPECT_EQ(Json::parse(readText(dir() / "config.json")), fresh) << text;
    }
    std::multiset<std::string> found;
    for (const auto& name : copies("unreadable-config-"))
        found.insert(readText(snapshots() / name));
    EXPECT_EQ(found, std::multiset<std::string>(unusable.begin(), unusable.end()));

    writeText(dir() / "config.json", R"({"backupFolder": "/b", "printerPid": 42, "future": {"kept": [1]}})");
    const auto store = makeStore();
    EXPECT_EQ(store->configString("backupFolder"), "/b");
    EXPECT_EQ(store->configString("printerPid"), std::nullopt);
    store->config()["docsRoot"] = "/clients";
    store->config()["backupFolder"] = std::string("/media/caf\xE9");
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

    // Half of a surrogate pair, as JSON.stringify writes a cut emoji; the escaped backslash before
    // the second "u" is not an escape of its own.
    const std::string cutEmoji = R"({"clients":[{"name":"Ana \ud83d","note":"C:\\udcfolder","pair":"\ud83d\ude00"}],"enc":true,"v":2,"people":[{"salt":"\udc00","priv":{},"dk":{}}]})";
    store->save(cutEmoji);
    EXPECT_EQ(readText(data()), cutEmoji);
    EXPECT_EQ(store->load(), cutEmoji);
    EXPECT_EQ(store->lastLoad().dataFile, Store::DataFileState::Whole);
    EXPECT_EQ(store->lastLoad().source, "data.json");
    writeText(data(), "\xEF\xBB\xBF{\"clients\": []}");
    EXPECT_EQ(store->load(), "{\"clients\": []}");
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

    store->config()["backupFolder"] = (m_root / "backup").string();
    m_clock.setNow(m_clock.now() + 24h);
    try {
        store->save(R"({"enc":true,"v":2,"people":[]})");
        ADD_FAILURE() << "saved";
    } catch (const QuillpostError& error) {
        EXPECT_EQ(error.code(), 2);
    }
    EXPECT_EQ(readText(data()), R"({"n":3})");
    EXPECT_EQ(readText(bak()), R"({"n":2})");

    store->save("null");
    EXPECT_EQ(readText(data()), "null");
    EXPECT_EQ(store->snapshots().size(), 1u);
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
    EXPECT_EQ(store->load(), R"({"n":3})");
    EXPECT_EQ(store->lastLoad().dataFile, Store::DataFileState::Empty);
    store->save(R"({"next":1})");
    EXPECT_EQ(readText(bak()), R"({"n":3})");
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

    fs::remove_all(dir());
    EXPECT_NE(saveFailure(*store, R"({"n":2})").find("is gone"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir()));
}

TEST_F(StoreTest, AFailedSaveSaysWhyAndLeavesEveryFileAsItWasUnlessOnlyTheFolderSyncFailed)
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
    EXPECT_NE(message.find("the disk doesn't take a file this large"), std::string::npos) << message;
    EXPECT_NE(message.find("unchanged"), std::string::npos) << message;
    EXPECT_EQ(message.find("data.json"), std::string::npos) << "the data file was not touched: " << message;
    EXPECT_EQ(readText(data()), current);
    EXPECT_EQ(readText(bak()), older);
    EXPECT_EQ(namesIn(dir()), before) << "no temporary file remains";
    EXPECT_EQ(namesIn(snapshots()), snapshotsBefore);

    // After the rename a failed folder sync says the changes are written but not yet safe: for a
    // small document, and one large enough to be checked beside its write.
    for (const std::string& newer : { std::string(R"({"clients":["newer"]})"), larger }) {
        const std::string previous = readText(data());
        setFolderSyncForTesting([](int) {
            errno = EIO;
            return -1;
        });
        message = saveFailure(*store, newer);
        setFolderSyncForTesting(nullptr);
        EXPECT_NE(message.find("wrote your changes into its data folder \"" + dir().string() + "\", but the disk then reported"), std::string::npos) << message;
        EXPECT_NE(message.find(std::make_error_code(std::errc::io_error).message()), std::string::npos) << message;
        EXPECT_EQ(message.find("unchanged"), std::string::npos) << message;
        EXPECT_EQ(readText(data()), newer);
        EXPECT_EQ(readText(bak()), previous);
    }
    store->save(current);
    EXPECT_EQ(readText(data()), current);
    EXPECT_EQ(readText(bak()), larger);
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

    ASSERT_EQ(putAside().size(), 1u);
    EXPECT_EQ(readText(snapshots() / putAside().front()), damaged);
    EXPECT_EQ(readText(bak()), R"({"save":2})");
    const auto listed = store->allSnapshots();
    EXPECT_NE(std::find(listed.begin(), listed.end(), putAside().front()), listed.end());

    fs::remove(bak());
    writeText(data(), "\xFF\xFE garbage");
    m_clock.setNow(m_clock.now() + 1s);
    store->save(R"({"save":4})");
    ASSERT_EQ(putAside().size(), 2u);
    EXPECT_EQ(readText(snapshots() / putAside().back()), "\xFF\xFE garbage");
    EXPECT_FALSE(fs::exists(bak())) << "garbage never becomes the .bak";
}

TEST_F(StoreTest, StartRemovesTemporaryFilesThatACrashLeftBehindAndTodayIsTheLocalDate)
{
    for (const auto* name : { ".data.json.Ab3xYz", ".data.json.bak.q1w2e3", ".config.json.000000" })
        writeText(dir() / name, "torn");
    for (const auto* name : { ".data.json.toolong7", ".hidden-notes", "data.json", ".data.json.a-b_cd" })
        writeText(dir() / name, "{}");
    writeText(snapshots() / ".data-2024-05-01.json.XYZ123", "torn");
    writeText(snapshots() / "data-2024-05-01.json", "{}");

    const auto store = makeStore();
    EXPECT_EQ(namesIn(dir()),
        (std::vector<std::string> { ".data.json.a-b_cd", ".data.json.toolong7", ".hidden-notes", "config.json", "data.json", "snapshots" }));
    // Besides the daily snapshot, only the safety copy a first start under this version takes.
    EXPECT_EQ(namesIn(snapshots()), (std::vector<std::string> { "before-update-first-to-" QUILLPOST_VERSION "-1714564800000.json", "data-2024-05-01.json" }));

    m_clock.setNow(Clock::TimePoint(VirtualClock::defaultStart + 15h)); // 2024-05-02T03:00:00Z
    for (const auto& [zone, day] : { std::pair { "EST5", "2024-05-01" }, std::pair { "UTC0", "2024-05-02" } }) {
        ScopedTimeZone scoped(zone);
        EXPECT_EQ(store->today(), day) << zone;
    }
}

TEST_F(StoreTest, ANewVersionCopiesTheDataOnceAtStart)
{
    makeStore("2.0");
    EXPECT_TRUE(copies().empty());
    writeText(data(), R"({"clients":[1]})");
    // Each start a second later, so each copy has a name of its own, some with settings written before it.
    const std::pair<const char*, const char*> starts[] = {
        { nullptr, "2.0" }, { nullptr, "2.1" }, { nullptr, "2.1" },
        { "{\"backupFolder\": ", "2.2" }, { nullptr, "2.2" }, { nullptr, "2.2" },
        { R"({"backupFolder":"/b","lastVersion":"../../x y"})", "2.3" }, { R"({"backupFolder":"/b"})", "2.3" },
    };
    for (const auto& [settings, version] : starts) {
        if (settings)
            writeText(dir() / "config.json", settings);
        m_clock.advance(1s);
        makeStore(version);
    }
    std::vector<std::string> untimed;
    for (const auto& name : copies())
        untimed.push_back(std::regex_replace(name, std::regex(R"(-\d{13}\.json$)"), ""));
    ASSERT_EQ(untimed, (std::vector<std::string> { "before-update-....xy-to-2.3", "before-update-2.0-to-2.1", "before-update-first-to-2.2",
                           "before-update-first-to-2.3", "unreadable-config" }));
    EXPECT_EQ(readText(snapshots() / copies("before-update-2.0-to-2.1-")[0]), R"({"clients":[1]})");
    EXPECT_EQ(readText(snapshots() / copies("unreadable-config-")[0]), "{\"backupFolder\": ");
    EXPECT_EQ(config(), (Json { { "backupFolder", "/b" }, { "lastVersion", "2.3" } }));

    const auto store = makeStore("2.3");
    fs::remove_all(snapshots());
    fs::remove(data());
    EXPECT_TRUE(store->safetyCopyBeforeUpdate("2.4"));
    writeText(data(), "{\"not json");
    EXPECT_FALSE(store->safetyCopyBeforeUpdate("2.4"));
    EXPECT_TRUE(copies().empty());
    writeText(data(), R"([1,2])");
    EXPECT_TRUE(store->safetyCopyBeforeUpdate("2.4 (beta 1)/.."));
    ASSERT_EQ(copies().size(), 1u);
    EXPECT_TRUE(copies()[0].starts_with("before-update-2.3-to-2.4beta1..-")) << copies()[0];
    EXPECT_TRUE(Store::isRestorableName(copies()[0]));
    fs::remove_all(snapshots());
    writeText(snapshots(), "a file in the way");
    EXPECT_FALSE(store->safetyCopyBeforeUpdate("2.5"));
    EXPECT_EQ(readText(data()), "[1,2]");
}

TEST_F(StoreTest, TheBetaDataIsOfferedBeforeThePageLoadsWhenNewerAndTakenAfterACopyOfOurs)
{
    FakePanels panels;
    int pageLoads = 0;
    std::unique_ptr<Store> store;
    const auto ask = [&] {
        store = makeStore("2.0", false);
        askAboutBetaData(*store, panels, nullptr, [&] { ++pageLoads; });
    };
    ask();
    EXPECT_EQ(pageLoads, 1);
    writeText(betaFile(), R"({"beta":true})");
    EXPECT_TRUE(makeStore("2.0", false)->betaIsNewer());
    EXPECT_FALSE(makeStore("2.0")->betaIsNewer());
    writeText(data(), R"({"main":true})");
    age(betaFile(), std::chrono::minutes(10));
    EXPECT_FALSE(makeStore("2.0", false)->betaIsNewer());
    EXPECT_TRUE(panels.questions.empty());

    age(data(), std::chrono::minutes(20));
    ask();
    ASSERT_EQ(panels.questions.size(), 1u);
    EXPECT_EQ(pageLoads, 1);
    panels.choose(std::nullopt);
    EXPECT_EQ(pageLoads, 2);
    EXPECT_EQ(config()["betaChecked"], "kept-main");
    EXPECT_FALSE(makeStore("2.0", false)->betaIsNewer());
    EXPECT_EQ(readText(data()), R"({"main":true})");
    EXPECT_TRUE(copies().empty());

    writeText(dir() / "config.json", "{}");
    ask();
    panels.choose(0);
    EXPECT_EQ(pageLoads, 3);
    EXPECT_EQ(store->load(), R"({"beta":true})");
    EXPECT_EQ(readText(betaFile()), R"({"beta":true})");
    ASSERT_EQ(copies("before-restore-").size(), 1u);
    EXPECT_EQ(readText(snapshots() / copies("before-restore-")[0]), R"({"main":true})");

    writeText(data(), R"({"main":2})");
    writeText(betaFile(), "not json");
    makeStore("2.0", false)->adoptBetaData(true);
    EXPECT_EQ(config()["betaChecked"], "used-beta");
    EXPECT_EQ(readText(data()), R"({"main":2})");
    writeText(betaFile(), R"({"beta":true})");
    fs::remove_all(snapshots());
    writeText(snapshots(), "a file in the way");
    makeStore("2.0", false)->adoptBetaData(true);
    EXPECT_EQ(readText(data()), R"({"main":2})");
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
