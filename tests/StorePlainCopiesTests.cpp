#include "common/Error.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/SealedForm.h"
#include "store/Store.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The page's encrypted form, as JSON.stringify writes it.
std::string sealed(std::string_view ct = "c2VhbGVkIHRleHQ=")
{
    return R"({"enc":true,"v":2,"people":[{"name":"Practice","salt":"AAAAAAAAAAAAAAAAAAAAAA==","priv":{"kdf":"PBKDF2","hash":"SHA-256","iterations":310000},"dk":{"iv":"AAAAAAAAAAAAAAAA","ct":"AAAA"}}],"iv":"AAAAAAAAAAAAAAAA","ct":")"
        + std::string(ct) + "\"}";
}

const std::string plain = R"({"version":3,"clients":[{"id":"c1","name":"Amara Okafor","email":"amara@example.org"}]})";

TEST(SealedFormTest, RecognisesOnlyThePagesEncryptedFormWhole)
{
    struct Case {
        std::string bytes;
        bool sealedForm;
    };
    const std::string person = R"({"salt":"AAAA","priv":{},"dk":{"iv":"AAAA","ct":"AAAA"}})";
    const auto document = [](std::string members) { return "{\"enc\":true,\"v\":2,\"iv\":\"AAAA\",\"ct\":\"AAAA\"," + members + "}"; };
    const Case cases[] = {
        { sealed(), true },
        { document("\"people\":[" + person + "]"), true },
        { " \n" + sealed() + "\n", true },
        { R"({"enc":true,"v":2,"people":[{"name":"\ud83d","salt":"AAAA","priv":{},"dk":{"iv":"AAAA","ct":"AAAA"}}],"iv":"AAAA","ct":"AAAA"})", true },
        { plain, false },
        { "", false },
        { "not json", false },
        { sealed().substr(0, sealed().size() - 2), false },
        { "[" + sealed() + "]", false },
        // Something readable beside the encrypted text.
        { document("\"people\":[" + person + "],\"clients\":[{\"name\":\"Amara\"}]"), false },
        { document("\"people\":[" + person + "],\"ct\":\"QW1hcmE=\""), false },
        { document(R"("people":[{"salt":"AAAA","priv":{},"dk":{"iv":"AAAA","ct":"AAAA"},"note":"Amara"}])"), false },
        { document(R"("people":[{"salt":"AAAA","priv":{"kdf":{"clients":[]}},"dk":{"iv":"AAAA","ct":"AAAA"}}])"), false },
        { document(R"("people":[{"salt":"AAAA","priv":{},"dk":{"iv":"AAAA","ct":"AAAA","x":"y"}}])"), false },
        // The form's own members, wrong.
        { document("\"people\":[]"), false },
        { document(R"("people":[{"salt":"AAAA","priv":{},"dk":{"iv":"AAAA"}}])"), false },
        { R"({"enc":true,"v":"2","people":[)" + person + R"(],"iv":"AAAA","ct":"AAAA"})", false },
        { R"({"enc":true,"v":2.5,"people":[)" + person + R"(],"iv":"AAAA","ct":"AAAA"})", false },
        { R"({"enc":"yes","v":2,"people":[)" + person + R"(],"iv":"AAAA","ct":"AAAA"})", false },
        { R"({"enc":true,"v":2,"people":[)" + person + R"(],"iv":"AAAA","ct":"Amara Okafor"})", false },
        { R"({"enc":true,"v":2,"people":[)" + person + R"(],"iv":"AAAA","ct":""})", false },
        { R"({"enc":true,"v":2,"people":[)" + person + R"(],"iv":"AAAA","ct":12})", false },
    };
    for (const Case& entry : cases)
        EXPECT_EQ(isSealedDocument(entry.bytes), entry.sealedForm) << entry.bytes;
}

class StorePlainCopiesTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_store = std::make_unique<Store>(Store::Location { m_root / "data", true, m_root, m_root }, Store::Services { m_clock, m_clock, m_clock });
        m_store->config()["backupFolder"] = (m_root / "backups").string();
    }

    fs::path bak() const { return m_store->dir() / "data.json.bak"; }
    fs::path snapshot(std::string_view name) const { return m_store->snapshotsDir() / name; }
    fs::path backupFile() const { return m_root / "backups" / "Quillpost-backup.json"; }

    std::vector<std::string> names() const
    {
        std::vector<std::string> result;
        for (const auto& copy : m_store->plainCopies())
            result.push_back(copy.place + "/" + copy.name);
        std::sort(result.begin(), result.end());
        return result;
    }

    TemporaryFolder m_folder { "quillpost-plain-copies" };
    const fs::path& m_root { m_folder.path() };
    VirtualClock m_clock;
    std::unique_ptr<Store> m_store;
};

TEST_F(StorePlainCopiesTest, CountsAndRemovesOnlyReadableCopiesOfThePractice)
{
    writeText(m_store->data(), sealed());
    writeText(bak(), plain);
    writeText(backupFile(), plain);
    const std::pair<const char*, std::string> files[] = {
        { "data-2024-05-01.json", plain },
        { "data-2024-05-02.json", sealed("b3RoZXI=") },
        { "before-update-1.0-to-1.1-5.json", plain },
        { "before-restore-7.json", sealed() },
        { "before-pdfcraft-update-9.json", plain },
        { "unreadable-data-3.json", "{\"clients\":[{\"name\":\"Amara" },
        { "unreadable-data-4.json", "" },
        { "notes.json", plain },
        { "data-2024-5-3.json", plain },
        { ".data-2024-05-04.json.a1B2c3", plain },
    };
    for (const auto& [name, text] : files)
        writeText(snapshot(name), text);
    fs::create_directories(snapshot("data-2024-05-05.json"));

    const std::vector<std::string> readable { "backup/Quillpost-backup.json", "data/data.json.bak", "snapshots/before-pdfcraft-update-9.json",
        "snapshots/before-update-1.0-to-1.1-5.json", "snapshots/data-2024-05-01.json", "snapshots/unreadable-data-3.json" };
    EXPECT_EQ(names(), readable);

    EXPECT_EQ(m_store->removePlainCopies(), readable.size());
    EXPECT_TRUE(names().empty());
    EXPECT_EQ(readText(m_store->data()), sealed()) << "data.json is never touched";
    EXPECT_FALSE(fs::exists(bak()));
    for (const auto& [name, text] : files) {
        const bool wasReadableCopy = std::find(readable.begin(), readable.end(), "snapshots/" + std::string(name)) != readable.end();
        EXPECT_EQ(fs::exists(snapshot(name)), !wasReadableCopy) << name;
    }
    EXPECT_TRUE(fs::is_directory(snapshot("data-2024-05-05.json")));

    // The backup folder gets the encrypted data back rather than staying empty.
    EXPECT_FALSE(fs::exists(backupFile()));
    m_clock.advance(1500ms);
    m_clock.runBackground();
    EXPECT_EQ(readText(backupFile()), sealed());
}

TEST_F(StorePlainCopiesTest, RemovesNothingWhileTheDataFileIsReadableItself)
{
    for (const std::string& current : { plain, std::string("not json"), std::string() }) {
        if (current.empty())
            fs::remove(m_store->data());
        else
            writeText(m_store->data(), current);
        writeText(bak(), plain);
        writeText(snapshot("data-2024-05-01.json"), plain);
        try {
            m_store->removePlainCopies();
            ADD_FAILURE() << "removed copies of a readable practice: " << current;
        } catch (const QuillpostError& error) {
            EXPECT_EQ(error.code(), 3);
        }
        EXPECT_EQ(names().size(), 2u);
    }
}

TEST_F(StorePlainCopiesTest, NeverFollowsALinkOutOfItsFolders)
{
    writeText(m_store->data(), sealed());
    const fs::path outside = m_root / "elsewhere";
    writeText(outside / "practice.json", plain);
    writeText(outside / "data-2024-05-09.json", plain);

    // A link among the snapshots goes as a link; the file it points to stays.
    fs::create_directories(m_store->snapshotsDir());
    fs::create_symlink(outside / "practice.json", snapshot("data-2024-05-01.json"));
    fs::create_symlink(outside / "practice.json", bak());
    EXPECT_EQ(names(), (std::vector<std::string> { "data/data.json.bak", "snapshots/data-2024-05-01.json" }));
    EXPECT_EQ(m_store->removePlainCopies(), 2u);
    EXPECT_FALSE(fs::is_symlink(snapshot("data-2024-05-01.json")));
    EXPECT_FALSE(fs::is_symlink(bak()));
    EXPECT_EQ(readText(outside / "practice.json"), plain);

    // A snapshots folder that is a link to another folder is not walked into.
    fs::remove_all(m_store->snapshotsDir());
    fs::create_directory_symlink(outside, m_store->snapshotsDir());
    EXPECT_TRUE(names().empty());
    m_store->removePlainCopies();
    EXPECT_EQ(readText(outside / "data-2024-05-09.json"), plain);
}

TEST_F(StorePlainCopiesTest, SavesRotateTheBakAgainAfterItWasRemoved)
{
    m_store->save(plain);
    m_store->save(sealed());
    ASSERT_EQ(readText(bak()), plain);
    m_store->removePlainCopies();
    ASSERT_FALSE(fs::exists(bak()));

    const std::string next = sealed("bmV4dA==");
    m_store->save(next);
    EXPECT_EQ(readText(bak()), sealed()) << "the save before this one is the new .bak";
    EXPECT_TRUE(names().empty());
    m_store->save(sealed("dGhpcmQ="));
    EXPECT_EQ(readText(bak()), next);

    // A damaged data file still falls back to the .bak.
    writeText(m_store->data(), "{");
    EXPECT_EQ(m_store->load(), next);
}

TEST_F(StorePlainCopiesTest, ARestoreNeverLeavesEncryptedDataReadableUnasked)
{
    writeText(snapshot("data-2024-05-01.json"), plain);
    writeText(snapshot("data-2024-05-02.json"), sealed("b2xk"));
    writeText(m_store->data(), sealed());

    try {
        m_store->restore("data-2024-05-01.json");
        ADD_FAILURE() << "a readable copy replaced encrypted data";
    } catch (const QuillpostError& error) {
        EXPECT_EQ(error.code(), 4);
    }
    EXPECT_EQ(readText(m_store->data()), sealed());
    EXPECT_EQ(m_store->allSnapshots().size(), 2u) << "a refused restore takes no safety copy";

    // In its encrypted form, made by the page, the copy goes back; readable text passed as that form is refused.
    const std::string resealed = sealed("cmVzZWFsZWQ=");
    for (const std::string& refused : { plain, sealed("") }) {
        EXPECT_THROW(m_store->restore("data-2024-05-01.json", refused), QuillpostError);
        EXPECT_EQ(readText(m_store->data()), sealed());
    }
    m_store->restore("data-2024-05-01.json", resealed);
    EXPECT_EQ(readText(m_store->data()), resealed);

    // An encrypted copy needs nothing more, and a readable one goes back once the user agreed.
    m_store->restore("data-2024-05-02.json");
    EXPECT_EQ(readText(m_store->data()), sealed("b2xk"));
    m_store->restore("data-2024-05-01.json", std::nullopt, Store::PlainOverSealed::Allow);
    EXPECT_EQ(readText(m_store->data()), plain);
    EXPECT_EQ(m_store->copyText("data-2024-05-02.json"), sealed("b2xk"));
    EXPECT_EQ(m_store->copyText("../data.json"), std::nullopt);
}

}
}
