#include "common/Error.h"
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

// A disk whose folder syncs fail with an I/O error, as a failing or pulled disk's do, after the
// files themselves were written and renamed.
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

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error); !error && entry != fs::directory_iterator(); entry.increment(error))
        names.push_back(entry->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class StoreDurabilityTest : public testing::Test {
protected:
    std::unique_ptr<Store> makeStore()
    {
        return std::make_unique<Store>(Store::Location { dir(), true, m_root, m_root }, Store::Services { m_clock, m_clock, m_clock });
    }

    fs::path dir() const { return m_root / "data"; }
    fs::path data() const { return dir() / "data.json"; }
    fs::path bak() const { return dir() / "data.json.bak"; }
    fs::path snapshots() const { return dir() / "snapshots"; }

    std::vector<std::string> putAside() const
    {
        std::vector<std::string> names;
        for (auto& name : namesIn(snapshots())) {
            if (name.starts_with("unreadable-data-"))
                names.push_back(name);
        }
        return names;
    }

    TemporaryFolder m_folder { "quillpost-durability" };
    const fs::path& m_root { m_folder.path() };
    VirtualClock m_clock;
};

TEST_F(StoreDurabilityTest, BakBecomesThePreviousFileWithoutCopyingItsBytes)
{
    const auto store = makeStore();
    store->save(R"({"n":1})");
    store->save(R"({"n":2})");
    struct stat previous {};
    ASSERT_EQ(::stat(data().c_str(), &previous), 0);

    store->save(R"({"n":3})");
    EXPECT_EQ(readText(bak()), R"({"n":2})");
    EXPECT_EQ(readText(data()), R"({"n":3})");
    struct stat rotated {};
    ASSERT_EQ(::stat(bak().c_str(), &rotated), 0);
    EXPECT_EQ(rotated.st_ino, previous.st_ino) << "the .bak is the previous file itself, not a copy";
    // config.json records the version seen at start.
    EXPECT_EQ(namesIn(dir()), (std::vector<std::string> { "config.json", "data.json", "data.json.bak", "snapshots" }));
}

TEST_F(StoreDurabilityTest, AFailedSaveLeavesEveryFileAsItWasAndSaysWhy)
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
        try {
            store->save(larger);
        } catch (const FileError& error) {
            message = error.what();
        }
    }
    EXPECT_NE(message.find("Quillpost didn't save, because the disk doesn't take a file this large"), std::string::npos) << message;
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

TEST_F(StoreDurabilityTest, AFolderSyncThatFailsAfterTheRenameSaysTheChangesAreWrittenButNotYetSafe)
{
    const auto store = makeStore();
    const std::string older = R"({"clients":["older"]})";
    const std::string current = R"({"clients":["current"]})";
    store->save(older);
    store->save(current);

    // A small document, and one large enough to be checked beside its write.
    const std::string large = "{\"clients\":[\"" + std::string(300'000, 'n') + "\"]}";
    for (const std::string& newer : { std::string(R"({"clients":["newer"]})"), large }) {
        const std::string previous = readText(data());
        std::string message;
        {
            FailingFolderSync failing;
            try {
                store->save(newer);
            } catch (const FileError& error) {
                message = error.what();
            }
        }
        EXPECT_NE(message.find("Quillpost wrote your changes into its data folder \"" + dir().string() + "\", but the disk then reported a problem"), std::string::npos) << message;
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

TEST_F(StoreDurabilityTest, ADataFolderThatVanishedIsNotMadeAgainBehindTheUsersBack)
{
    const auto store = makeStore();
    store->save(R"({"n":1})");
    fs::remove_all(dir());
    try {
        store->save(R"({"n":2})");
        ADD_FAILURE() << "saved into a folder that was gone";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find("is gone: it was moved or deleted, or its disk was removed. Put it back and try again"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(fs::exists(dir()));
}

TEST_F(StoreDurabilityTest, ADataFileThatDoesNotOpenIsPutAsideNeverPushedOut)
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
    const auto aside = putAside();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readText(snapshots() / aside.front()), damaged);
    EXPECT_EQ(readText(bak()), R"({"save":2})");
    const auto listed = store->allSnapshots();
    EXPECT_NE(std::find(listed.begin(), listed.end(), aside.front()), listed.end());

    // The same holds without any .bak, and when the file is damaged behind the store's back.
    fs::remove(bak());
    writeText(data(), "\xFF\xFE garbage");
    m_clock.setNow(m_clock.now() + std::chrono::seconds(1));
    store->save(R"({"save":4})");
    ASSERT_EQ(putAside().size(), 2u);
    EXPECT_EQ(readText(snapshots() / putAside().back()), "\xFF\xFE garbage");
    EXPECT_FALSE(fs::exists(bak())) << "garbage never becomes the .bak";
}

TEST_F(StoreDurabilityTest, AnEmptiedDataFileIsReplacedWithoutTouchingBak)
{
    const auto store = makeStore();
    store->save(R"({"kept":true})");
    store->save("null");
    EXPECT_EQ(readText(bak()), R"({"kept":true})");
    EXPECT_EQ(store->load(), R"({"kept":true})");
    EXPECT_EQ(store->lastLoad().dataFile, Store::DataFileState::Empty);

    store->save(R"({"next":1})");
    EXPECT_EQ(readText(bak()), R"({"kept":true})") << "the \"null\" did not push the last document out of .bak";
    EXPECT_TRUE(putAside().empty());
}

TEST_F(StoreDurabilityTest, StartRemovesTemporaryFilesThatACrashLeftBehind)
{
    const std::vector<std::string> leftovers { ".data.json.Ab3xYz", ".data.json.bak.q1w2e3", ".config.json.000000" };
    const std::vector<std::string> kept { ".data.json.toolong7", ".hidden-notes", "data.json", ".data.json.a-b_cd" };
    for (auto& name : leftovers)
        writeText(dir() / name, "torn");
    for (auto& name : kept)
        writeText(dir() / name, "{}");
    writeText(snapshots() / ".data-2024-05-01.json.XYZ123", "torn");
    writeText(snapshots() / "data-2024-05-01.json", "{}");

    makeStore();
    auto expected = kept;
    expected.push_back("snapshots");
    expected.push_back("config.json");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(dir()), expected);
    // Besides the daily snapshot, only the safety copy a first start under this version takes.
    EXPECT_EQ(namesIn(snapshots()), (std::vector<std::string> { "before-update-first-to-" QUILLPOST_VERSION "-1714564800000.json", "data-2024-05-01.json" }));
}

}
}
