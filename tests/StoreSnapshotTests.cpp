#include "common/Error.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/Store.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::time_t may1 = 1714564800; // 2024-05-01T12:00:00Z
constexpr std::time_t day = 86400;

// Writes the file (and its folders) with the given modification time, in seconds since 1970.
void writeModifiedAt(const fs::path& path, std::string_view text, std::optional<std::time_t> modified)
{
    writeText(path, text);
    if (!modified)
        return;
    const timespec times[2] { { *modified, 0 }, { *modified, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

class StoreSnapshotTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_store = makeStore();
        m_store->config()["backupFolder"] = (m_root / "backups" / "nested").string();
    }

    void TearDown() override { m_store.reset(); }

    std::unique_ptr<Store> makeStore()
    {
        return std::make_unique<Store>(Store::Location { m_root / "data", true, m_root, m_root }, Store::Services { m_clock, m_clock, m_clock });
    }

    fs::path bak() const { return m_store->dir() / "data.json.bak"; }
    fs::path snapshot(std::string_view name) const { return m_store->snapshotsDir() / name; }
    fs::path backupFile() const { return m_root / "backups" / "nested" / "Quillpost-backup.json"; }

    TemporaryFolder m_folder { "quillpost-snapshots" };
    const fs::path& m_root { m_folder.path() };
    VirtualClock m_clock;
    std::unique_ptr<Store> m_store;
};

TEST_F(StoreSnapshotTest, ListsDailySnapshotsThenSafetyCopiesNewestFirst)
{
    EXPECT_TRUE(m_store->allSnapshots().empty());
    EXPECT_TRUE(m_store->backupCandidates().empty());

    for (const char* name : { "before-restore-20.json", "data-2024-05-01.json", "notes.json", "before-update-1.2.0-to-1.3.0-10.json",
             "data-2024-5-1.json", "data-2024-05-02.json", "before-update-x.json", ".data-2024-05-03.json.a1B2c3" })
        writeText(snapshot(name), "{}");

    EXPECT_EQ(m_store->allSnapshots(),
        (std::vector<std::string> { "data-2024-05-02.json", "data-2024-05-01.json", "before-update-x.json", "before-update-1.2.0-to-1.3.0-10.json", "before-restore-20.json" }));
}

TEST_F(StoreSnapshotTest, RecoveryCopyIsTheNewestCandidateThatDiffersAndOpens)
{
    writeText(m_store->data(), "{\"n\": 1}");
    writeModifiedAt(bak(), "{\"n\": 1}", may1 + 5 * day);
    writeModifiedAt(snapshot("before-restore-1.json"), "{\"n\": 2}", may1 + 4 * day);
    writeModifiedAt(snapshot("notes.json"), "{\"n\": 3}", may1 + 4 * day);
    writeModifiedAt(snapshot("data-2024-05-04.json"), R"({"enc":true,"v":2})", may1 + 3 * day);
    writeModifiedAt(snapshot("before-update-1.0-to-1.1-9.json"), "{\"n\": 4}", may1 + 2 * day);
    writeModifiedAt(snapshot("data-2024-05-02.json"), "{\"n\": 5}", may1 + day);

    auto copy = m_store->recoveryCopy();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->name, "before-update-1.0-to-1.1-9.json");
    EXPECT_EQ(copy->at, "2024-05-03T12:00:00Z");

    // Without data.json nothing is excluded for being equal to it; equal times keep the .bak first.
    fs::remove(m_store->data());
    writeModifiedAt(snapshot("data-2024-05-02.json"), "{\"n\": 5}", may1 + 5 * day);
    copy = m_store->recoveryCopy();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->name, "data.json.bak");
}

TEST_F(StoreSnapshotTest, RestoreRefusesOtherNamesAndDocumentsThatWouldNotOpen)
{
    writeText(m_store->data(), "{\"current\": true}");
    writeText(snapshot("data-2024-05-01.json"), "{}");
    writeText(snapshot("data-2024-04-01.json"), R"({"enc":true,"v":2,"people":[]})");

    // A name as long as the page cares to send must not exhaust the pattern matcher's stack.
    const std::string endless = "before-update-" + std::string(100000, 'a') + ".json";
    for (const std::string name : { "../data.json", "data.json", "data-2024-05-01.txt", "../snapshots/data-2024-05-01.json", "data-2024-04-01.json", endless.c_str() }) {
        try {
            m_store->restore(name);
            ADD_FAILURE() << "restored " << name;
        } catch (const QuillpostError& error) {
            EXPECT_EQ(error.code(), 1) << name;
        }
    }
    EXPECT_THROW(m_store->restore("before-pdfcraft-update-1.json"), FileError);
    EXPECT_EQ(readText(m_store->data()), "{\"current\": true}");
    EXPECT_EQ(m_store->allSnapshots().size(), 2u);
}

TEST_F(StoreSnapshotTest, RestoreKeepsASafetyCopyAndLeavesBakAlone)
{
    writeText(m_store->data(), "{\"current\": true}");
    writeText(bak(), "{\"previous\": true}");
    writeText(snapshot("before-update-x.json"), "{\"x\": true}");
    m_clock.setNow(Clock::TimePoint(std::chrono::milliseconds(1714564800123)));

    m_store->restore("before-update-x.json");
    EXPECT_EQ(readText(m_store->data()), "{\"x\": true}");
    EXPECT_EQ(readText(snapshot("before-restore-1714564800123.json")), "{\"current\": true}");
    EXPECT_EQ(readText(bak()), "{\"previous\": true}");
    EXPECT_TRUE(m_store->snapshots().empty());
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
}

TEST_F(StoreSnapshotTest, TheBackupFolderCopyIsReadAndRestoredLikeASnapshot)
{
    writeText(m_store->data(), "{\"current\": true}");
    writeText(bak(), "{\"previous\": true}");
    writeText(backupFile(), "{\"backup\": true}");
    // A file of that name in the snapshots folder is not the backup folder's copy.
    writeText(snapshot("Quillpost-backup.json"), "{\"impostor\": true}");
    m_clock.setNow(Clock::TimePoint(std::chrono::milliseconds(1714564800456)));

    EXPECT_EQ(m_store->copyText("Quillpost-backup.json"), "{\"backup\": true}");
    m_store->restore("Quillpost-backup.json");
    EXPECT_EQ(readText(m_store->data()), "{\"backup\": true}");
    EXPECT_EQ(readText(snapshot("before-restore-1714564800456.json")), "{\"current\": true}");
    EXPECT_EQ(readText(bak()), "{\"previous\": true}");
    EXPECT_EQ(readText(backupFile()), "{\"backup\": true}");

    // Without a backup folder there is nothing of that name to read or restore.
    m_store->config().erase("backupFolder");
    EXPECT_EQ(m_store->copyText("Quillpost-backup.json"), std::nullopt);
    EXPECT_THROW(m_store->restore("Quillpost-backup.json"), FileError);
    EXPECT_EQ(readText(m_store->data()), "{\"backup\": true}");
}

TEST_F(StoreSnapshotTest, BurstOfSavesGivesOneBackupWithTheLastDocument)
{
    for (int index = 0; index < 10; ++index) {
        m_store->save("{\"save\": " + std::to_string(index) + "}");
        m_clock.advance(100ms);
    }
    m_clock.advance(1399ms);
    EXPECT_EQ(m_clock.pendingBackgroundTasks(), 0u);

    m_clock.advance(1ms);
    EXPECT_EQ(m_clock.runBackground(), 1u);
    EXPECT_EQ(readText(backupFile()), "{\"save\": 9}");
}

TEST_F(StoreSnapshotTest, HandedOverJobsRunInOrderIntoTheFolderTheyCaptured)
{
    m_store->save("{\"a\": 1}");
    m_clock.advance(1500ms);
    m_store->save("{\"a\": 2}");
    m_store->config().erase("backupFolder");
    EXPECT_EQ(m_clock.pendingBackgroundTasks(), 1u) << "a job already handed over is not withdrawn";
    m_clock.advance(1500ms);
    EXPECT_EQ(m_clock.pendingBackgroundTasks(), 1u) << "newer bytes replace those still waiting for the writer";
    EXPECT_EQ(m_clock.runBackground(), 1u);
    EXPECT_EQ(readText(backupFile()), "{\"a\": 2}");

    m_store->save("{\"a\": 3}");
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
}

TEST_F(StoreSnapshotTest, FailedBackupIsReportedOnTheMainQueueUntilASuccess)
{
    writeText(m_root / "gone", "a file where the folder should be");
    m_store->config()["backupFolder"] = (m_root / "gone" / "folder").string();
    m_store->save("{\"a\": 1}");
    m_clock.advance(1500ms);
    m_clock.runBackground();
    EXPECT_EQ(m_store->lastBackupError(), "");
    m_clock.runPosted();
    EXPECT_NE(m_store->lastBackupError().find((m_root / "gone").string()), std::string::npos) << m_store->lastBackupError();

    m_store->config()["backupFolder"] = (m_root / "backups" / "nested").string();
    m_store->save("{\"a\": 2}");
    m_clock.advance(1500ms);
    m_clock.runBackground();
    m_clock.runPosted();
    EXPECT_EQ(m_store->lastBackupError(), "");
}

TEST_F(StoreSnapshotTest, BackupOfAStoreThatIsGoneIsDropped)
{
    m_store->save("{\"a\": 1}");
    m_clock.advance(1500ms);
    m_store.reset();
    m_clock.runBackground();
    m_clock.runPosted();
    EXPECT_FALSE(fs::exists(backupFile()));

    m_store = makeStore();
    m_store->config()["backupFolder"] = (m_root / "backups" / "nested").string();
    m_store->save("{\"a\": 1}");
    m_store.reset();
    EXPECT_EQ(m_clock.pendingTimers(), 0u);
}

TEST_F(StoreSnapshotTest, BackupCandidatesAreTheBackupAndTheTwoNewestDaysByTime)
{
    for (int date = 1; date <= 4; ++date)
        writeModifiedAt(snapshot("data-2024-05-0" + std::to_string(date) + ".json"), "{}", may1 + (date - 1) * day);
    writeModifiedAt(snapshot("data-2024-05-05.json"), "{\"name\": \"caf\xE9\"}", may1 + 4 * day);
    writeModifiedAt(backupFile(), "{\"backup\": 1}", may1 + 3 * day + 3600);

    const auto candidates = m_store->backupCandidates();
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates[0].name, "data-2024-05-05.json");
    EXPECT_EQ(candidates[0].source, "Daily snapshot");
    EXPECT_EQ(candidates[0].size, 16u);
    EXPECT_EQ(candidates[0].text, "{\"name\": \"caf\xEF\xBF\xBD\"}");
    EXPECT_EQ(candidates[1].source, "Backup folder");
    EXPECT_EQ(candidates[1].at, "2024-05-04T13:00:00Z");
    EXPECT_EQ(candidates[2].name, "data-2024-05-04.json");

    // Copies of the same time keep their order: the backup folder's first.
    writeModifiedAt(backupFile(), "{\"backup\": 1}", may1 + 4 * day);
    const auto tied = m_store->backupCandidates();
    ASSERT_EQ(tied.size(), 3u);
    EXPECT_EQ(tied[0].source, "Backup folder");
    EXPECT_EQ(tied[1].name, "data-2024-05-05.json");
}

}
}
