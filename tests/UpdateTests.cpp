#include "common/Error.h"
#include "common/Files.h"
#include "doubles/FakeHttpClient.h"
#include "doubles/FakeProcessRunner.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/TestSigner.h"
#include "doubles/VirtualClock.h"
#include "store/Store.h"
#include "updates/Appcast.h"
#include "updates/UpdateArchive.h"
#include "updates/UpdateInstaller.h"
#include "updates/Updater.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

// A .tar.gz made in memory; each entry is a file, unless it names a link target.
struct Entry {
    std::string name;
    std::string content;
    std::string symlink {};
    std::string hardlink {};
};

std::string tarball(const std::vector<Entry>& entries)
{
    std::string bytes(1 << 20, '\0');
    size_t used = 0;
    auto* writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    archive_write_set_format_pax_restricted(writer);
    archive_write_open_memory(writer, bytes.data(), bytes.size(), &used);
    for (auto& item : entries) {
        auto* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.name.c_str());
        archive_entry_set_perm(entry, 0755);
        if (!item.symlink.empty()) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, item.symlink.c_str());
        } else if (!item.hardlink.empty()) {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, item.hardlink.c_str());
        } else {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, static_cast<la_int64_t>(item.content.size()));
        }
        archive_write_header(writer, entry);
        if (item.symlink.empty() && item.hardlink.empty())
            archive_write_data(writer, item.content.data(), item.content.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    bytes.resize(used);
    return bytes;
}

std::vector<Entry> release(const std::string& mark)
{
    return { { "quillpost-0.2.0/bin/quillpost", "#!/bin/sh\n" }, { "quillpost-0.2.0/share/quillpost/app/index.html", mark },
        { "quillpost-0.2.0/share/quillpost/pdfcraft/index.html", "editor" } };
}

std::string appcast(const std::string& version, const std::string& url, const std::string& signature, size_t length)
{
    return R"(<?xml version="1.0"?><rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)"
           R"(<item><title>Old</title><sparkle:version>0.0.9</sparkle:version><enclosure url="https://example.org/old.tar.gz" length="1"/></item>)"
           "<item><title>Quillpost " + version + "</title><sparkle:version>" + version + "</sparkle:version>"
           "<enclosure url=\"" + url + "\" length=\"" + std::to_string(length) + "\" type=\"application/gzip\" sparkle:edSignature=\"" + signature + "\"/>"
           "</item></channel></rss>";
}

TEST(Appcast, ReadsItemsAndComparesVersionsAsPeopleDo)
{
    std::string error;
    auto items = parseAppcast(appcast("0.2.0", "https://example.org/q.tar.gz", "c2ln", 42), error);
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[1].url, "https://example.org/q.tar.gz");
    EXPECT_EQ((*items)[1].signature, "c2ln");
    EXPECT_EQ((*items)[1].length, 42u);
    EXPECT_EQ(newestUpdate(*items, "0.1.0")->version, "0.2.0");
    EXPECT_FALSE(newestUpdate(*items, "0.2.0"));

    auto legacy = parseAppcast(R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item>)"
                               R"(<enclosure url="u" sparkle:version="7" sparkle:shortVersionString="1.4"/></item><item><title>no enclosure</title></item></channel></rss>)",
        error);
    ASSERT_TRUE(legacy && legacy->size() == 1);
    EXPECT_EQ((*legacy)[0].shortVersion, "1.4");

    for (auto* bad : { "", "not xml", "<feed/>", "<rss><channel><item>" })
        EXPECT_FALSE(parseAppcast(bad, error)) << bad;
    // Entities are never expanded from anywhere.
    auto entity = parseAppcast(R"(<!DOCTYPE rss [<!ENTITY x SYSTEM "file:///etc/passwd">]><rss><channel><item><title>&x;</title><enclosure url="u" sparkle:version="1" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"/></item></channel></rss>)", error);
    ASSERT_TRUE(entity && entity->size() == 1);
    EXPECT_EQ((*entity)[0].title.find("root"), std::string::npos);

    EXPECT_GT(compareVersions("1.10", "1.9"), 0);
    EXPECT_GT(compareVersions("2.0", "2.0b1"), 0);
    EXPECT_GT(compareVersions("2.0b2", "2.0b1"), 0);
    EXPECT_EQ(compareVersions("1.0", "1.0.0"), 0);
    EXPECT_GT(compareVersions("1.0.1", "1.0"), 0);
    EXPECT_LT(compareVersions("0.1.0", "0.2.0"), 0);
}

TEST(UpdateArchive, UnpacksOnlyPlainFilesThatStayInside)
{
    TemporaryFolder folder;
    EXPECT_FALSE(UpdateArchive::problem(tarball(release("page"))));
    UpdateArchive::unpack(tarball(release("page")), folder / "good");
    EXPECT_EQ(UpdateArchive::findTree(folder / "good"), folder / "good" / "quillpost-0.2.0");
    EXPECT_EQ(readFile(folder / "good" / "quillpost-0.2.0" / "share" / "quillpost" / "app" / "index.html"), "page");

    const std::vector<std::vector<Entry>> refused {
        { { "bin/quillpost", "x" }, { "bin/link", "", "/etc/passwd" } },
        { { "bin/quillpost", "x" }, { "bin/hard", "", "", "bin/quillpost" } },
        { { "../outside", "x" } },
        { { "bin/../../outside", "x" } },
        { { "/etc/cron.d/evil", "x" } },
    };
    int index = 0;
    for (auto& entries : refused) {
        auto target = folder / ("bad" + std::to_string(index++));
        EXPECT_TRUE(UpdateArchive::problem(tarball(entries))) << entries.back().name;
        EXPECT_THROW(UpdateArchive::unpack(tarball(entries), target), FileError);
        EXPECT_FALSE(fs::exists(target));
    }
    EXPECT_FALSE(fs::exists(folder.path().parent_path() / "outside"));
    auto damaged = tarball(release("page"));
    damaged.resize(damaged.size() / 2);
    EXPECT_TRUE(UpdateArchive::problem(damaged));
    EXPECT_TRUE(UpdateArchive::problem("not an archive"));
}

class UpdaterTest : public testing::Test {
protected:
    UpdaterTest()
    {
        fs::create_directories(m_prefix / "bin");
        fs::create_directories(m_prefix / "share" / "quillpost" / "app");
        writeText(m_prefix / "bin" / "quillpost", "old program");
        writeText(m_prefix / "share" / "quillpost" / "app" / "index.html", "old page");
        Store::Location location { m_folder / "data", true, m_folder / "home", m_folder / "home" / "Documents" };
        m_store = std::make_unique<Store>(location, Store::Services { m_clock, m_clock, m_clock });
        m_store->save(R"({"clients":[]})");
    }

    std::unique_ptr<Updater> updater(std::string publicKey)
    {
        Updater::Settings settings { m_folder / "update.log", true, "https://example.org/appcast.xml", std::move(publicKey), "0.1.0", m_prefix };
        auto made = std::make_unique<Updater>(Updater::Services { *m_store, m_clock, m_clock, m_http, m_processes }, settings);
        made->evaluateInPage = [this](const std::string& script) { m_events.push_back(script); };
        made->quit = [this] { m_quit = true; };
        return made;
    }

    // Starts a test-mode run and answers the feed and the download.
    void runUpdate(Updater& updater, const std::string& archive, const std::string& signature)
    {
        updater.start();
        m_http.answer("https://example.org/appcast.xml", FakeHttpClient::ok(appcast("0.2.0", "https://example.org/q.tar.gz", signature, archive.size())));
        m_http.answer("https://example.org/q.tar.gz", FakeHttpClient::ok(archive));
        m_clock.runPosted();
    }

    std::string log() const { return readFile(m_folder / "update.log").value_or(""); }
    std::string page() const { return readFile(m_prefix / "share" / "quillpost" / "app" / "index.html").value_or(""); }

    TemporaryFolder m_folder;
    fs::path m_prefix { m_folder / "apps" / "quillpost" };
    VirtualClock m_clock;
    FakeHttpClient m_http;
    FakeProcessRunner m_processes { m_clock };
    std::unique_ptr<Store> m_store;
    TestSigner m_signer;
    std::vector<std::string> m_events;
    bool m_quit { false };
};

TEST_F(UpdaterTest, InstallsASignedReleaseAfterASafetyCopyAndStartsIt)
{
    auto archive = tarball(release("new page"));
    auto made = updater(m_signer.publicKey());
    runUpdate(*made, archive, m_signer.sign(archive));

    EXPECT_EQ(page(), "new page");
    EXPECT_EQ(readFile(UpdateInstaller(m_prefix).previousTree() / "share" / "quillpost" / "app" / "index.html"), "old page");
    ASSERT_EQ(m_processes.launches.size(), 1u);
    EXPECT_EQ(m_processes.launches[0][0], (m_prefix / "bin" / "quillpost").string());
    EXPECT_TRUE(m_quit);
    for (auto* line : { " found 0.2.0\n", " downloaded 0.2.0, installing\n", " safety copy ok\n", " installed 0.2.0\n" })
        EXPECT_NE(log().find(line), std::string::npos) << line << log();
    bool safetyCopy = false;
    for (auto& entry : fs::directory_iterator(m_folder / "data" / "snapshots"))
        safetyCopy |= entry.path().filename().string().starts_with("before-update-");
    EXPECT_TRUE(safetyCopy);

    // The new version starts twice without showing its page: the third start is the old one again.
    UpdateInstaller installer(m_prefix);
    EXPECT_EQ(installer.atStart(), UpdateInstaller::StartOutcome::Trying);
    EXPECT_EQ(installer.atStart(), UpdateInstaller::StartOutcome::Trying);
    EXPECT_EQ(installer.atStart(), UpdateInstaller::StartOutcome::RolledBack);
    EXPECT_EQ(page(), "old page");
    EXPECT_EQ(installer.atStart(), UpdateInstaller::StartOutcome::Normal);
}

TEST_F(UpdaterTest, ANewVersionThatShowsItsPageIsKept)
{
    auto archive = tarball(release("new page"));
    auto made = updater(m_signer.publicKey());
    runUpdate(*made, archive, m_signer.sign(archive));
    UpdateInstaller installer(m_prefix);
    EXPECT_EQ(installer.atStart(), UpdateInstaller::StartOutcome::Trying);
    made->startedOnce();
    EXPECT_FALSE(fs::exists(installer.previousTree()));
    EXPECT_EQ(installer.atStart(), UpdateInstaller::StartOutcome::Normal);
    EXPECT_EQ(page(), "new page");
}

TEST_F(UpdaterTest, RefusesWhatIsNotSignedByTheKeyAndChangesNothing)
{
    auto archive = tarball(release("new page"));
    TestSigner stranger;
    auto altered = tarball(release("tampered page"));
    const std::vector<std::pair<std::string, std::string>> cases {
        { stranger.sign(archive), "signature doesn't match" }, // someone else's key
        { m_signer.sign(archive), "signature doesn't match" }, // a signature of different bytes (below)
        { "", "isn't signed" },
        { "bm90IGEgc2lnbmF0dXJl", "signature doesn't match" },
    };
    for (size_t index = 0; index < cases.size(); ++index) {
        auto made = updater(m_signer.publicKey());
        runUpdate(*made, index == 1 ? altered : archive, cases[index].first);
        EXPECT_NE(log().find(cases[index].second), std::string::npos) << index << log();
        EXPECT_EQ(page(), "old page");
        EXPECT_FALSE(fs::exists(UpdateInstaller(m_prefix).stagingFolder("0.2.0")));
    }
    EXPECT_TRUE(m_processes.launches.empty());
    EXPECT_FALSE(m_quit);
}

TEST_F(UpdaterTest, AVersionThatDoesNotStartIsSwappedBackOut)
{
    m_processes.respond = [](const std::vector<std::string>& arguments) {
        return ProcessRunner::Result { true, arguments.back() == "--self-check" ? 127 : 0, {}, {} };
    };
    auto archive = tarball(release("new page"));
    auto made = updater(m_signer.publicKey());
    runUpdate(*made, archive, m_signer.sign(archive));
    EXPECT_EQ(page(), "old page");
    EXPECT_NE(log().find("rolled back"), std::string::npos);
    EXPECT_TRUE(m_processes.launches.empty());
    EXPECT_NE(m_events.back().find("didn't start"), std::string::npos);
}

TEST_F(UpdaterTest, APackagedCopyPointsToThePackageManager)
{
    EXPECT_NE(UpdateInstaller("/usr").cannotInstall().value_or("").find("package manager"), std::string::npos);
    // Not in test mode, and on a folder of its own: the updater stays off but answers.
    Updater::Settings settings { std::nullopt, true, "https://example.org/appcast.xml", m_signer.publicKey(), "0.1.0", m_prefix };
    Updater idle({ *m_store, m_clock, m_clock, m_http, m_processes }, settings);
    idle.start();
    m_clock.advance(std::chrono::hours(48));
    EXPECT_TRUE(m_http.sent.empty());
    EXPECT_EQ(idle.info()["canCheck"], false);
    EXPECT_EQ(idle.info()["lastCheck"], "");
    EXPECT_EQ(idle.info()["version"], "0.1.0");
}

}
}
