#include "app/BetaDataQuestion.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Utf8.h"
#include "doubles/DesktopDoubles.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/AtomicFile.h"
#include "store/SealedForm.h"
#include "store/Store.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Makes every write past `bytes` fail with EFBIG, the way a full disk fails a write part-way,
// without needing a small file system (root ignores permission bits, and mounting needs root).
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    rlimit previous {};
    void (*previousHandler)(int) { std::signal(SIGXFSZ, SIG_IGN) };
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

constexpr std::time_t may1 = 1714564800; // 2024-05-01T12:00:00Z
constexpr std::time_t oneDay = 86400;

void writeModifiedAt(const fs::path& path, std::string_view text, std::time_t modified)
{
    writeText(path, text);
    const timespec times[2] { { modified, 0 }, { modified, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::string sealed(std::string_view ct = "c2VhbGVkIHRleHQ=")
{
    return R"({"enc":true,"v":2,"people":[{"name":"Practice","salt":"AAAAAAAAAAAAAAAAAAAAAA==","priv":{"kdf":"PBKDF2","hash":"SHA-256","iterations":310000},"dk":{"iv":"AAAAAAAAAAAAAAAA","ct":"AAAA"}}],"iv":"AAAAAAAAAAAAAAAA","ct":")"
        + std::string(ct) + "\"}";
}

const std::string plain = R"({"version":3,"clients":[{"id":"c1","name":"Amara Okafor","email":"amara@example.org"}]})";

int refusal(const std::function<void()>& call)
{
    try {
        call();
    } catch (const QuillpostError& error) {
        return error.code();
    }
    return 0;
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

// The read begun at start is what load() gives while data.json is still that file (the same file,
// size and time); anything that replaced or changed it since is read afresh.
TEST_F(StoreTest, AReadAheadIsTakenOnlyWhileTheDataFileIsTheFileItRead)
{
    const auto store = makeStore();
    const std::string edited = R"({"version":3,"clients":[{"id":"c1","name":"Amara Okafor","email":"amara@example.net"}]})";
    ASSERT_EQ(edited.size(), plain.size());
    writeModifiedAt(data(), plain, 1'700'000'000);
    store->readAhead();
    EXPECT_EQ(m_clock.runBackground(), 1u);
    // Rewritten in place to the same size and time, it looks the same: what was read ahead is given.
    writeModifiedAt(data(), edited, 1'700'000'000);
    EXPECT_EQ(store->load(), plain);
    EXPECT_EQ(store->lastLoad().dataFile, Store::DataFileState::Whole);
    // The edits go onto that text.
    store->saveEdits({ { plain.find(".org"), ".org", ".com" } });
    EXPECT_NE(readText(data()).find("amara@example.com"), std::string::npos);

    // Taken once: the next load reads the file.
    EXPECT_EQ(store->load(), readText(data()));

    // Not yet begun when the page asks: the load reads for itself, and the read is called off.
    writeText(data(), plain);
    store->readAhead();
    writeModifiedAt(data(), edited, 1'700'000'100);
    EXPECT_EQ(store->load(), edited);
    EXPECT_EQ(m_clock.runBackground(), 1u);
    EXPECT_EQ(store->load(), edited);

    const std::vector<std::pair<std::string, std::function<void()>>> changes {
        { "replaced by another file", [&] { writeText(dir() / "other.json", edited); fs::rename(dir() / "other.json", data()); } },
        { "its time changed", [&] { writeModifiedAt(data(), edited, 1'700'000'200); } },
        { "removed, with a .bak beside it", [&] { writeText(bak(), edited); fs::remove(data()); } },
    };
    for (const auto& [name, change] : changes) {
        writeModifiedAt(data(), plain, 1'700'000'300);
        store->readAhead();
        m_clock.runBackground();
        change();
        EXPECT_EQ(store->load(), edited) << name;
    }

    // What load() gave, from the .bak and then from data.json, can be saved as it is, though the
    // store replaces its own copy while saving.
    for (int round = 0; round < 2; ++round) {
        store->save(store->load());
        EXPECT_EQ(readText(data()), edited);
    }

    // What the read ahead made of the text is handed over once, with the load that gave that very
    // text: not for a text stripped of a byte-order mark, ill-formed or cut off, nor for one read
    // afresh.
    const auto made = [](std::string_view text) { return "made of " + std::string(text); };
    const std::vector<std::pair<std::string, std::optional<std::string>>> texts {
        { plain, "made of " + plain },
        { "\xEF\xBB\xBF" + plain, std::nullopt },
        { "{\"clients\":[{\"name\":\"\xC3\x28\"}]}", std::nullopt },
        { "{\"clients\": [", std::nullopt },
    };
    for (const auto& [text, expected] : texts) {
        writeText(data(), text);
        store->readAhead(made);
        m_clock.runBackground();
        store->load();
        EXPECT_EQ(store->takeMadeAhead(), expected) << text;
        EXPECT_EQ(store->takeMadeAhead(), std::nullopt) << text;
    }
    writeText(data(), plain);
    store->readAhead(made);
    m_clock.runBackground();
    writeModifiedAt(data(), plain, 1'700'000'400);
    store->load();
    EXPECT_EQ(store->takeMadeAhead(), std::nullopt) << "read afresh";
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
    EXPECT_EQ(refusal([&] { store->save(R"({"enc":true,"v":2,"people":[]})"); }), 2);
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
    // Everything restorable: the daily ones newest first, then the safety copies; nothing else.
    for (const char* name : { "notes.json", "before-update-x.json", ".data-2024-05-03.json.a1B2c3" })
        writeText(snapshots() / name, "{}");
    std::vector<std::string> all = daily;
    all.insert(all.end(), { "before-update-x.json", "before-update-1.0-to-1.1-5.json", "before-restore-7.json" });
    EXPECT_EQ(store->allSnapshots(), all);
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
    const std::optional<std::string> zoneBefore = std::getenv("TZ") ? std::optional(std::getenv("TZ")) : std::nullopt;
    for (const auto& [zone, day] : { std::pair { "EST5", "2024-05-01" }, std::pair { "UTC0", "2024-05-02" } }) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        EXPECT_EQ(store->today(), day) << zone;
    }
    zoneBefore ? ::setenv("TZ", zoneBefore->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
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

class StoreSnapshotTest : public StoreTest {
protected:
    void SetUp() override
    {
        m_store = makeStore();
        m_store->config()["backupFolder"] = (m_root / "backups" / "nested").string();
    }

    void backUp()
    {
        m_clock.advance(1500ms);
        m_clock.runBackground();
        m_clock.runPosted();
    }

    fs::path snapshot(std::string_view name) const { return snapshots() / name; }
    fs::path backupFile() const { return m_root / "backups" / "nested" / "Quillpost-backup.json"; }

    std::vector<std::string> plainCopies() const
    {
        std::vector<std::string> result;
        for (const auto& copy : m_store->plainCopies())
            result.push_back(copy.place + "/" + copy.name);
        std::sort(result.begin(), result.end());
        return result;
    }

    std::unique_ptr<Store> m_store;
};

TEST_F(StoreSnapshotTest, RecoveryCopyIsTheNewestCandidateThatDiffersAndOpens)
{
    writeText(m_store->data(), "{\"n\": 1}");
    writeModifiedAt(bak(), "{\"n\": 1}", may1 + 5 * oneDay);
    writeModifiedAt(snapshot("before-restore-1.json"), "{\"n\": 2}", may1 + 4 * oneDay);
    writeModifiedAt(snapshot("notes.json"), "{\"n\": 3}", may1 + 4 * oneDay);
    writeModifiedAt(snapshot("data-2024-05-04.json"), R"({"enc":true,"v":2})", may1 + 3 * oneDay);
    writeModifiedAt(snapshot("before-update-1.0-to-1.1-9.json"), "{\"n\": 4}", may1 + 2 * oneDay);
    writeModifiedAt(snapshot("data-2024-05-02.json"), "{\"n\": 5}", may1 + oneDay);
    auto copy = m_store->recoveryCopy();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->name, "before-update-1.0-to-1.1-9.json");
    EXPECT_EQ(copy->at, "2024-05-03T12:00:00Z");

    // Without data.json nothing is excluded for being equal to it; equal times keep the .bak first.
    fs::remove(m_store->data());
    writeModifiedAt(snapshot("data-2024-05-02.json"), "{\"n\": 5}", may1 + 5 * oneDay);
    copy = m_store->recoveryCopy();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->name, "data.json.bak");
}

TEST_F(StoreSnapshotTest, RestoreTakesOnlyAKeptCopyThatOpensAndKeepsASafetyCopyFirst)
{
    writeText(m_store->data(), "{\"current\": true}");
    writeText(bak(), "{\"previous\": true}");
    writeText(snapshot("data-2024-05-01.json"), "{}");
    writeText(snapshot("data-2024-04-01.json"), R"({"enc":true,"v":2,"people":[]})");
    // A name as long as the page cares to send must not exhaust the pattern matcher's stack.
    const std::string endless = "before-update-" + std::string(100000, 'a') + ".json";
    for (const std::string name : { "../data.json", "data.json", "data-2024-05-01.txt", "../snapshots/data-2024-05-01.json", "data-2024-04-01.json", endless.c_str() })
        EXPECT_EQ(refusal([&] { m_store->restore(name); }), 1) << name;
    EXPECT_THROW(m_store->restore("before-pdfcraft-update-1.json"), FileError);
    EXPECT_EQ(readText(m_store->data()), "{\"current\": true}");
    EXPECT_EQ(m_store->allSnapshots().size(), 2u);

    writeText(snapshot("before-update-x.json"), "{\"x\": true}");
    writeText(backupFile(), "{\"backup\": true}");
    writeText(snapshot("Quillpost-backup.json"), "{\"impostor\": true}");
    m_clock.setNow(Clock::TimePoint(std::chrono::milliseconds(1714564800123)));
    m_store->restore("before-update-x.json");
    EXPECT_EQ(readText(m_store->data()), "{\"x\": true}");
    EXPECT_EQ(readText(snapshot("before-restore-1714564800123.json")), "{\"current\": true}");
    EXPECT_EQ(m_store->snapshots().size(), 2u);
    EXPECT_EQ(m_clock.pendingTimers(), 0u);

    m_clock.setNow(Clock::TimePoint(std::chrono::milliseconds(1714564800456)));
    EXPECT_EQ(m_store->copyText("Quillpost-backup.json"), "{\"backup\": true}");
    m_store->restore("Quillpost-backup.json");
    EXPECT_EQ(readText(m_store->data()), "{\"backup\": true}");
    EXPECT_EQ(readText(snapshot("before-restore-1714564800456.json")), "{\"x\": true}");
    EXPECT_EQ(readText(bak()), "{\"previous\": true}");
    EXPECT_EQ(readText(backupFile()), "{\"backup\": true}");

    m_store->config().erase("backupFolder");
    EXPECT_EQ(m_store->copyText("Quillpost-backup.json"), std::nullopt);
    EXPECT_THROW(m_store->restore("Quillpost-backup.json"), FileError);
    EXPECT_EQ(readText(m_store->data()), "{\"backup\": true}");
}

TEST_F(StoreSnapshotTest, BackupsWaitForABurstOfSavesAndRunInOrderIntoTheFolderTheyCaptured)
{
    for (int index = 0; index < 10; ++index) {
        m_store->save("{\"save\": " + std::to_string(index) + "}");
        m_clock.advance(100ms);
    }
    m_clock.advance(1399ms);
    EXPECT_EQ(m_clock.pendingBackgroundTasks(), 0u);
    m_clock.advance(1ms);
    EXPECT_EQ(m_clock.pendingBackgroundTasks(), 1u);
    m_store->save("{\"a\": 2}");
    m_store->config().erase("backupFolder");
    m_clock.advance(1500ms);
    EXPECT_EQ(m_clock.pendingBackgroundTasks(), 1u) << "newer bytes replace those still waiting for the writer";
    EXPECT_EQ(m_clock.runBackground(), 1u);
    EXPECT_EQ(readText(backupFile()), "{\"a\": 2}");
    m_store->save("{\"a\": 3}");
    EXPECT_EQ(m_clock.pendingTimers(), 0u);

    writeText(m_root / "gone", "a file where the folder should be");
    m_store->config()["backupFolder"] = (m_root / "gone" / "folder").string();
    m_store->save("{\"a\": 4}");
    m_clock.advance(1500ms);
    m_clock.runBackground();
    EXPECT_EQ(m_store->lastBackupError(), "");
    m_clock.runPosted();
    EXPECT_NE(m_store->lastBackupError().find((m_root / "gone").string()), std::string::npos) << m_store->lastBackupError();
    m_store->config()["backupFolder"] = (m_root / "backups" / "nested").string();
    m_store->save("{\"a\": 5}");
    backUp();
    EXPECT_EQ(m_store->lastBackupError(), "");
    EXPECT_EQ(readText(backupFile()), "{\"a\": 5}");

    m_store->save("{\"a\": 6}");
    m_clock.advance(1500ms);
    m_store.reset();
    m_clock.runBackground();
    m_clock.runPosted();
    EXPECT_EQ(readText(backupFile()), "{\"a\": 5}");
    SetUp();
    m_store->save("{\"a\": 7}");
    m_store.reset();
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
}

TEST_F(StoreSnapshotTest, BackupCandidatesAreTheBackupAndTheTwoNewestDaysByTime)
{
    EXPECT_TRUE(m_store->allSnapshots().empty());
    EXPECT_TRUE(m_store->backupCandidates().empty());
    for (int date = 1; date <= 4; ++date)
        writeModifiedAt(snapshot("data-2024-05-0" + std::to_string(date) + ".json"), "{}", may1 + (date - 1) * oneDay);
    writeModifiedAt(snapshot("data-2024-05-05.json"), "{\"name\": \"caf\xE9\"}", may1 + 4 * oneDay);
    writeModifiedAt(backupFile(), "{\"backup\": 1}", may1 + 3 * oneDay + 3600);
    const auto candidates = m_store->backupCandidates();
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates[0].name, "data-2024-05-05.json");
    EXPECT_EQ(candidates[0].source, "Daily snapshot");
    EXPECT_EQ(candidates[0].size, 16u);
    EXPECT_EQ(candidates[0].text, "{\"name\": \"caf\xEF\xBF\xBD\"}");
    EXPECT_EQ(candidates[1].source, "Backup folder");
    EXPECT_EQ(candidates[1].at, "2024-05-04T13:00:00Z");
    EXPECT_EQ(candidates[2].name, "data-2024-05-04.json");

    writeModifiedAt(backupFile(), "{\"backup\": 1}", may1 + 4 * oneDay);
    const auto tied = m_store->backupCandidates();
    ASSERT_EQ(tied.size(), 3u);
    EXPECT_EQ(tied[0].source, "Backup folder");
    EXPECT_EQ(tied[1].name, "data-2024-05-05.json");
}

TEST(SealedFormTest, RecognisesOnlyThePagesEncryptedFormWhole)
{
    const std::string person = R"({"salt":"AAAA","priv":{},"dk":{"iv":"AAAA","ct":"AAAA"}})";
    const auto document = [](std::string members) { return "{\"enc\":true,\"v\":2,\"iv\":\"AAAA\",\"ct\":\"AAAA\"," + members + "}"; };
    const auto people = [&document](std::string members) { return document("\"people\":[" + members + "]"); };
    const auto withTop = [&person](std::string_view enc, std::string_view v, std::string_view ct) {
        return "{\"enc\":" + std::string(enc) + ",\"v\":" + std::string(v) + ",\"people\":[" + person + "],\"iv\":\"AAAA\",\"ct\":" + std::string(ct) + "}";
    };
    const std::pair<std::string, bool> cases[] = {
        { sealed(), true }, { people(person), true }, { " \n" + sealed() + "\n", true }, { withTop("true", "2", "\"AAAA\""), true },
        { R"({"enc":true,"v":2,"people":[{"name":"\ud83d","salt":"AAAA","priv":{},"dk":{"iv":"AAAA","ct":"AAAA"}}],"iv":"AAAA","ct":"AAAA"})", true },
        { plain, false }, { "", false }, { "not json", false }, { sealed().substr(0, sealed().size() - 2), false }, { "[" + sealed() + "]", false },
        { document("\"people\":[" + person + "],\"clients\":[{\"name\":\"Amara\"}]"), false },
        { document("\"people\":[" + person + "],\"ct\":\"QW1hcmE=\""), false },
        { people(R"({"salt":"AAAA","priv":{},"dk":{"iv":"AAAA","ct":"AAAA"},"note":"Amara"})"), false },
        { people(R"({"salt":"AAAA","priv":{"kdf":{"clients":[]}},"dk":{"iv":"AAAA","ct":"AAAA"}})"), false },
        { people(R"({"salt":"AAAA","priv":{},"dk":{"iv":"AAAA","ct":"AAAA","x":"y"}})"), false },
        { people(""), false }, { people(R"({"salt":"AAAA","priv":{},"dk":{"iv":"AAAA"}})"), false }, { withTop("true", "\"2\"", "\"AAAA\""), false },
        { withTop("true", "2.5", "\"AAAA\""), false }, { withTop("\"yes\"", "2", "\"AAAA\""), false }, { withTop("true", "2", "\"Amara Okafor\""), false },
        { withTop("true", "2", "\"\""), false }, { withTop("true", "2", "12"), false },
    };
    for (const auto& [bytes, sealedForm] : cases)
        EXPECT_EQ(isSealedDocument(bytes), sealedForm) << bytes;
}

TEST_F(StoreSnapshotTest, RemovesOnlyReadableCopiesOfAnEncryptedPracticeAndNeverFollowsALink)
{
    for (const std::string& current : { plain, std::string("not json"), std::string() }) {
        if (current.empty())
            fs::remove(m_store->data());
        else
            writeText(m_store->data(), current);
        writeText(bak(), plain);
        writeText(snapshot("data-2024-05-01.json"), plain);
        EXPECT_EQ(refusal([&] { m_store->removePlainCopies(); }), 3) << current;
        EXPECT_EQ(plainCopies().size(), 2u);
    }

    writeText(m_store->data(), sealed());
    writeText(backupFile(), plain);
    const std::pair<const char*, std::string> files[] = {
        { "data-2024-05-02.json", sealed("b3RoZXI=") }, { "before-update-1.0-to-1.1-5.json", plain }, { "before-restore-7.json", sealed() },
        { "before-pdfcraft-update-9.json", plain }, { "unreadable-data-3.json", "{\"clients\":[{\"name\":\"Amara" }, { "unreadable-data-4.json", "" },
        { "notes.json", plain }, { "data-2024-5-3.json", plain }, { ".data-2024-05-04.json.a1B2c3", plain },
    };
    for (const auto& [name, text] : files)
        writeText(snapshot(name), text);
    fs::create_directories(snapshot("data-2024-05-05.json"));
    const fs::path outside = m_root / "elsewhere";
    writeText(outside / "practice.json", plain);
    writeText(outside / "data-2024-05-09.json", plain);
    fs::create_symlink(outside / "practice.json", snapshot("data-2024-05-06.json"));
    const std::vector<std::string> readable { "backup/Quillpost-backup.json", "data/data.json.bak", "snapshots/before-pdfcraft-update-9.json",
        "snapshots/before-update-1.0-to-1.1-5.json", "snapshots/data-2024-05-01.json", "snapshots/data-2024-05-06.json", "snapshots/unreadable-data-3.json" };
    EXPECT_EQ(plainCopies(), readable);

    EXPECT_EQ(m_store->removePlainCopies(), readable.size());
    EXPECT_TRUE(plainCopies().empty());
    EXPECT_EQ(readText(m_store->data()), sealed()) << "data.json is never touched";
    EXPECT_FALSE(fs::exists(bak()));
    for (const auto& [name, text] : files) {
        const bool wasReadableCopy = std::find(readable.begin(), readable.end(), "snapshots/" + std::string(name)) != readable.end();
        EXPECT_EQ(fs::exists(snapshot(name)), !wasReadableCopy) << name;
    }
    EXPECT_FALSE(fs::is_symlink(snapshot("data-2024-05-06.json")));
    EXPECT_EQ(readText(outside / "practice.json"), plain);
    EXPECT_TRUE(fs::is_directory(snapshot("data-2024-05-05.json")));
    EXPECT_FALSE(fs::exists(backupFile()));
    backUp();
    EXPECT_EQ(readText(backupFile()), sealed());

    fs::create_symlink(outside / "practice.json", bak());
    fs::remove_all(m_store->snapshotsDir());
    fs::create_directory_symlink(outside, m_store->snapshotsDir());
    EXPECT_EQ(plainCopies(), std::vector<std::string> { "data/data.json.bak" });
    EXPECT_EQ(m_store->removePlainCopies(), 1u);
    EXPECT_FALSE(fs::is_symlink(bak()));
    EXPECT_EQ(readText(outside / "practice.json"), plain);
    EXPECT_EQ(readText(outside / "data-2024-05-09.json"), plain);
}

TEST_F(StoreSnapshotTest, SavesRotateTheBakAgainAfterThePlainOneWasRemoved)
{
    m_store->save(plain);
    m_store->save(sealed());
    ASSERT_EQ(readText(bak()), plain);
    m_store->removePlainCopies();
    ASSERT_FALSE(fs::exists(bak()));

    const std::string next = sealed("bmV4dA==");
    m_store->save(next);
    EXPECT_EQ(readText(bak()), sealed()) << "the save before this one is the new .bak";
    EXPECT_TRUE(plainCopies().empty());
    m_store->save(sealed("dGhpcmQ="));
    EXPECT_EQ(readText(bak()), next);
    writeText(m_store->data(), "{");
    EXPECT_EQ(m_store->load(), next);
}

TEST_F(StoreSnapshotTest, ARestoreNeverLeavesEncryptedDataReadableUnasked)
{
    writeText(snapshot("data-2024-05-01.json"), plain);
    writeText(snapshot("data-2024-05-02.json"), sealed("b2xk"));
    writeText(m_store->data(), sealed());
    EXPECT_EQ(refusal([&] { m_store->restore("data-2024-05-01.json"); }), 4);
    EXPECT_EQ(m_store->allSnapshots().size(), 2u) << "a refused restore takes no safety copy";

    for (const std::string& refused : { plain, sealed("") })
        EXPECT_THROW(m_store->restore("data-2024-05-01.json", refused), QuillpostError);
    EXPECT_EQ(readText(m_store->data()), sealed());
    m_store->restore("data-2024-05-01.json", sealed("cmVzZWFsZWQ="));
    EXPECT_EQ(readText(m_store->data()), sealed("cmVzZWFsZWQ="));

    m_store->restore("data-2024-05-02.json");
    EXPECT_EQ(readText(m_store->data()), sealed("b2xk"));
    m_store->restore("data-2024-05-01.json", std::nullopt, Store::PlainOverSealed::Allow);
    EXPECT_EQ(readText(m_store->data()), plain);
    EXPECT_EQ(m_store->copyText("data-2024-05-02.json"), sealed("b2xk"));
    EXPECT_EQ(m_store->copyText("../data.json"), std::nullopt);
}

TEST(StoreUtf8, ReplacesEachIllFormedSubpart)
{
    const std::string valid = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE1\x84\x80";
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

// sysfs says a file holds 4096 bytes and gives a few; procfs says nothing and gives more. The read
// must end on the first and not stop short on the second.
TEST(Files, ReadsFilesWhoseStatedSizeIsWrong)
{
    for (const char* path : { "/sys/devices/system/cpu/online", "/proc/self/cmdline" }) {
        if (!std::filesystem::exists(path))
            continue;
        std::ifstream in(path, std::ios::binary);
        std::ostringstream expected;
        expected << in.rdbuf();
        EXPECT_EQ(quillpost::readFile(path), expected.str()) << path;
    }
}
