#include "common/Error.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/SealedForm.h"
#include "store/Store.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::time_t may1 = 1714564800; // 2024-05-01T12:00:00Z
constexpr std::time_t day = 86400;

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

class StoreSnapshotTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_store = std::make_unique<Store>(Store::Location { m_root / "data", true, m_root, m_root }, Store::Services { m_clock, m_clock, m_clock });
        m_store->config()["backupFolder"] = (m_root / "backups" / "nested").string();
    }

    void backUp()
    {
        m_clock.advance(1500ms);
        m_clock.runBackground();
        m_clock.runPosted();
    }

    fs::path bak() const { return m_store->dir() / "data.json.bak"; }
    fs::path snapshot(std::string_view name) const { return m_store->snapshotsDir() / name; }
    fs::path backupFile() const { return m_root / "backups" / "nested" / "Quillpost-backup.json"; }

    std::vector<std::string> plainCopies() const
    {
        std::vector<std::string> result;
        for (const auto& copy : m_store->plainCopies())
            result.push_back(copy.place + "/" + copy.name);
        std::sort(result.begin(), result.end());
        return result;
    }

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

    writeModifiedAt(backupFile(), "{\"backup\": 1}", may1 + 4 * day);
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

}
}
