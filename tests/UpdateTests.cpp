#include "common/Error.h"
#include "common/Files.h"
#include "doubles/Archive.h"
#include "doubles/FakeHttpClient.h"
#include "doubles/FakeProcessRunner.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/TestSigner.h"
#include "doubles/VirtualClock.h"
#include "net/Deployment.h"
#include "store/Store.h"
#include "updates/Appcast.h"
#include "updates/InstallManifest.h"
#include "updates/UpdateArchive.h"
#include "updates/UpdateInstaller.h"
#include "updates/Updater.h"

#include <gtest/gtest.h>
#include <map>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using Entries = std::vector<ArchiveEntry>;

constexpr const char* feedURL = "https://example.org/appcast.xml";
constexpr const char* archiveURL = "https://example.org/q.tar.gz";

std::string manifestText(const std::string& version, const std::vector<std::string>& files)
{
    std::string text = "Quillpost install manifest 1\nversion " + version + "\n";
    for (auto& file : files)
        text.append(file).append("\n");
    return text;
}

const std::vector<std::string> releaseFiles { "bin/quillpost", "share/quillpost/app/index.html", "share/quillpost/pdfcraft/index.html" };

// A release as the maker builds it: its manifest names its version and lists its files.
Entries release(const std::string& mark, const std::string& version = "0.2.0")
{
    return { { "quillpost-0.2.0/bin/quillpost", "#!/bin/sh\n" }, { "quillpost-0.2.0/share/quillpost/app/index.html", mark },
        { "quillpost-0.2.0/share/quillpost/pdfcraft/index.html", "editor" },
        { "quillpost-0.2.0/share/quillpost/install-manifest", manifestText(version, releaseFiles) } };
}

std::string appcast(const std::string& version, const std::string& signature, size_t length, const std::string& shortVersion = {})
{
    std::string shortElement = shortVersion.empty() ? "" : "<sparkle:shortVersionString>" + shortVersion + "</sparkle:shortVersionString>";
    return R"(<?xml version="1.0"?><rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)"
           R"(<item><title>Old</title><sparkle:version>0.0.9</sparkle:version><enclosure url="https://example.org/old.tar.gz" length="1"/></item>)"
           "<item><title>Quillpost " + version + "</title><sparkle:version>" + version + "</sparkle:version>" + shortElement +
           "<enclosure url=\"" + archiveURL + "\" length=\"" + std::to_string(length) + "\" type=\"application/gzip\" sparkle:edSignature=\"" + signature + "\"/>"
           "</item></channel></rss>";
}

TEST(Appcast, ReadsItemsAndComparesVersionsAsPeopleDo)
{
    std::string error;
    auto items = parseAppcast(appcast("0.2.0", "c2ln", 42), error);
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
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

    const std::tuple<const char*, const char*, int> order[] {
        { "1.10", "1.9", 1 }, { "2.0", "2.0b1", 1 }, { "2.0b2", "2.0b1", 1 }, { "1.0", "1.0.0", 0 }, { "1.0.1", "1.0", 1 }, { "0.1.0", "0.2.0", -1 },
    };
    for (auto [a, b, sign] : order)
        EXPECT_EQ((compareVersions(a, b) > 0) - (compareVersions(a, b) < 0), sign) << a << " against " << b;
}

TEST(UpdateArchive, UnpacksOnlyPlainFilesThatStayInside)
{
    TemporaryFolder folder;
    EXPECT_FALSE(UpdateArchive::problem(archiveOf(release("page"))));
    UpdateArchive::unpack(archiveOf(release("page")), folder / "good");
    EXPECT_EQ(UpdateArchive::findTree(folder / "good"), folder / "good" / "quillpost-0.2.0");
    EXPECT_EQ(readFile(folder / "good" / "quillpost-0.2.0" / "share" / "quillpost" / "app" / "index.html"), "page");

    const std::vector<Entries> refused {
        { { "bin/quillpost", "x" }, { "bin/link", "", "/etc/passwd" } },
        { { "bin/quillpost", "x" }, { "bin/hard", "", "", "bin/quillpost" } },
        { { "../outside", "x" } },
        { { "bin/../../outside", "x" } },
        { { "/etc/cron.d/evil", "x" } },
    };
    int index = 0;
    for (auto& entries : refused) {
        auto target = folder / ("bad" + std::to_string(index++));
        const auto problem = UpdateArchive::problem(archiveOf(entries));
        ASSERT_TRUE(problem) << entries.back().name;
        // A link of either kind is refused as a link, whatever type its entry reads back as.
        if (!entries.back().symlink.empty() || !entries.back().hardlink.empty()) {
            EXPECT_NE(problem->find("link"), std::string::npos) << *problem;
        }
        EXPECT_THROW(UpdateArchive::unpack(archiveOf(entries), target), FileError);
        EXPECT_FALSE(fs::exists(target));
    }
    EXPECT_FALSE(fs::exists(folder.path().parent_path() / "outside"));
    auto damaged = archiveOf(release("page"));
    damaged.resize(damaged.size() / 2);
    EXPECT_TRUE(UpdateArchive::problem(damaged));
    EXPECT_TRUE(UpdateArchive::problem("not an archive"));
}

TEST(InstallManifest, ReadsOnlyAVersionAndPlainRelativePaths)
{
    std::string error;
    auto good = InstallManifest::parse(manifestText("0.2.0", releaseFiles) + "\n", error);
    ASSERT_TRUE(good) << error;
    EXPECT_EQ(good->version, "0.2.0");
    EXPECT_EQ(good->files.size(), releaseFiles.size());
    EXPECT_TRUE(InstallManifest::parse(manifestText(std::string(64, '1'), releaseFiles), error)) << "the longest version";

    const std::string header = "Quillpost install manifest 1\n";
    const std::vector<std::pair<std::string, std::string>> refused {
        { "", "empty" },
        { "Some other list\nversion 0.2.0\nbin/quillpost\n", "isn't a Quillpost install manifest" },
        { header + "bin/quillpost\n", "valid version" },
        { header + "version 0.2.0/../../victim\nbin/quillpost\n", "valid version" },
        { header + "version \nbin/quillpost\n", "valid version" },
        { header + "version " + std::string(65, '1') + "\nbin/quillpost\n", "valid version" },
        { manifestText("0.2.0", { "bin/quillpost", "/etc/passwd" }), "outside" },
        { manifestText("0.2.0", { "bin/quillpost", "share/../../home" }), "outside" },
        { manifestText("0.2.0", { "bin/quillpost", "share//x" }), "outside" },
        { manifestText("0.2.0", { "bin/quillpost", "share/a\x01b" }), "outside" },
        { manifestText("0.2.0", { "bin/quillpost", "share/a\x7f" }), "outside" },
        { manifestText("0.2.0", { "share/quillpost/app/index.html" }), "doesn't list the program" },
    };
    for (auto& [text, why] : refused) {
        error.clear();
        EXPECT_FALSE(InstallManifest::parse(text, error)) << text;
        EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
    }
}

// Every entry under a folder with what it holds, to show that nothing changed.
std::map<std::string, std::string> contents(const fs::path& folder)
{
    std::map<std::string, std::string> found;
    for (auto& entry : fs::recursive_directory_iterator(folder))
        found[entry.path().lexically_relative(folder).string()] = entry.is_symlink() ? "link to " + fs::read_symlink(entry).string()
            : entry.is_directory() ? "folder" : readFile(entry.path()).value_or("?");
    return found;
}

bool anyContains(const std::vector<std::string>& texts, const std::string& wanted)
{
    return std::any_of(texts.begin(), texts.end(), [&](auto& text) { return text.find(wanted) != std::string::npos; });
}

class UpdaterTest : public testing::Test {
protected:
    UpdaterTest()
    {
        installOldVersion();
        Store::Location location { m_folder / "data", true, m_folder / "home", m_folder / "home" / "Documents" };
        m_store = std::make_unique<Store>(location, Store::Services { m_clock, m_clock, m_clock });
        m_store->save(R"({"clients":[]})");
    }

    // In test mode the updater logs to a file and installs what it finds at once; outside it, it
    // keeps its daily schedule, unless it runs on a data folder of its own.
    std::unique_ptr<Updater> updater(bool testMode = true, bool ownDataFolder = true)
    {
        std::optional<fs::path> testLog;
        if (testMode)
            testLog = m_folder / "update.log";
        Updater::Settings settings { testLog, ownDataFolder, feedURL, m_signer.publicKey(), "0.1.0", m_prefix };
        auto made = std::make_unique<Updater>(Updater::Services { *m_store, m_clock, m_clock, m_http, m_processes }, settings);
        made->evaluateInPage = [this](const std::string& script) { m_events.push_back(script); };
        made->quit = [this] { m_quit = true; };
        return made;
    }

    // The installed copy: a prefix that holds Quillpost 0.1.0 and nothing else.
    void installOldVersion()
    {
        std::error_code ignored;
        fs::remove_all(m_prefix, ignored);
        writeText(m_prefix / "bin" / "quillpost", "old program");
        writeText(m_prefix / "share" / "quillpost" / "app" / "index.html", "old page");
        writeText(InstallManifest::location(m_prefix), manifestText("0.1.0", { "bin/quillpost", "share/quillpost/app/index.html" }));
    }

    // Starts a test-mode run and answers the feed and the download; signed by our key unless told.
    std::unique_ptr<Updater> runUpdate(const std::string& archive, std::optional<std::string> signature = {},
        const std::string& version = "0.2.0", const std::string& shortVersion = {})
    {
        auto made = updater();
        made->start();
        m_http.answer(feedURL, FakeHttpClient::ok(appcast(version, signature.value_or(m_signer.sign(archive)), archive.size(), shortVersion)));
        // A copy that can't install never asks for the archive.
        bool asked = std::any_of(m_http.sent.begin(), m_http.sent.end(), [](auto& sent) { return sent.request.url == archiveURL && sent.completion; });
        if (asked)
            m_http.answer(archiveURL, FakeHttpClient::ok(archive));
        m_clock.runPosted();
        return made;
    }

    long requests(const std::string& url) const
    {
        return std::count_if(m_http.sent.begin(), m_http.sent.end(), [&](auto& sent) { return sent.request.url == url; });
    }
    void run(std::chrono::milliseconds duration)
    {
        m_clock.advance(duration);
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

TEST_F(UpdaterTest, InstallsASignedReleaseThatStartsAndKeepsItOnlyOnceItShowsItsPage)
{
    auto archive = archiveOf(release("new page"));
    // A version whose self-check fails is swapped back out before anything starts.
    m_processes.respond = [](const std::vector<std::string>& arguments) {
        return ProcessRunner::Result { true, arguments.back() == "--self-check" ? 127 : 0, {}, {} };
    };
    auto made = runUpdate(archive);
    EXPECT_EQ(page(), "old page");
    EXPECT_NE(log().find("rolled back"), std::string::npos);
    EXPECT_TRUE(m_processes.launches.empty());
    EXPECT_NE(m_events.back().find("didn't start"), std::string::npos);

    // Nor is the user told they stay on a version that couldn't be put back.
    m_processes.respond = [this](const std::vector<std::string>& arguments) {
        std::error_code ignored;
        fs::remove_all(UpdateInstaller(m_prefix).previousTree(), ignored);
        return ProcessRunner::Result { true, arguments.back() == "--self-check" ? 127 : 0, {}, {} };
    };
    runUpdate(archive);
    EXPECT_NE(log().find("couldn't be put back"), std::string::npos);
    EXPECT_EQ(m_events.back().find("staying on"), std::string::npos);
    EXPECT_NE(m_events.back().find(Deployment::releasesPageURL), std::string::npos);
    installOldVersion();

    // A name shown to people that holds path separators is only a name.
    m_processes.respond = nullptr;
    made = runUpdate(archive, {}, "0.2.0", "x/../../victim");
    EXPECT_EQ(page(), "new page");
    EXPECT_FALSE(fs::exists(m_folder / "victim"));
    EXPECT_EQ(readFile(UpdateInstaller(m_prefix).previousTree() / "share" / "quillpost" / "app" / "index.html"), "old page");
    ASSERT_EQ(m_processes.launches.size(), 1u);
    EXPECT_EQ(m_processes.launches[0][0], (m_prefix / "bin" / "quillpost").string());
    EXPECT_TRUE(m_quit);

    // The new version starts twice without showing its page: the third start is the old one again.
    UpdateInstaller installer(m_prefix);
    using enum UpdateInstaller::StartOutcome;
    EXPECT_EQ(installer.atStart(), Trying);
    EXPECT_EQ(installer.atStart(), Trying);
    EXPECT_EQ(installer.atStart(), RolledBack);
    EXPECT_EQ(page(), "old page");
    EXPECT_EQ(installer.atStart(), Normal);

    // Installed again, it shows its page this time and is kept. The copy that installed it may
    // show its own page late, while the new one is on trial: that keeps nothing.
    made = runUpdate(archive);
    EXPECT_EQ(installer.atStart(), Trying);
    made->startedOnce();
    EXPECT_TRUE(fs::exists(installer.previousTree()));
    updater()->startedOnce();
    EXPECT_FALSE(fs::exists(installer.previousTree()));
    EXPECT_EQ(installer.atStart(), Normal);
    EXPECT_EQ(page(), "new page");
}

TEST_F(UpdaterTest, ASharedFolderIsLeftAloneAndTheUserToldWhereToDownload)
{
    const std::vector<std::pair<std::string, std::function<void()>>> shared {
        { "another program beside bin/ and share/", [this] { writeText(m_prefix / "lib" / "other" / "libother.so", "someone else's"); } },
        { "another program's file in bin/", [this] { writeText(m_prefix / "bin" / "other-tool", "someone else's"); } },
        { "the practice's data in share/", [this] { writeText(m_prefix / "share" / "Quillpost" / "data.json", R"({"clients":[1]})"); } },
        { "a keyring in share/", [this] { writeText(m_prefix / "share" / "keyrings" / "login.keyring", "secret"); } },
        { "a link", [this] { fs::create_symlink("/etc", m_prefix / "share" / "quillpost" / "etc"); } },
        { "an empty folder of someone else's", [this] { fs::create_directories(m_prefix / "state"); } },
        { "no manifest", [this] { fs::remove(InstallManifest::location(m_prefix)); } },
        { "a damaged manifest", [this] { writeText(InstallManifest::location(m_prefix), "garbage"); } },
    };
    auto archive = archiveOf(release("new page"));
    for (auto& [name, share] : shared) {
        SCOPED_TRACE(name);
        installOldVersion();
        share();
        auto before = contents(m_folder / "apps");
        m_events.clear();
        auto made = runUpdate(archive);

        EXPECT_EQ(contents(m_folder / "apps"), before);
        EXPECT_NE(log().find("can't update itself"), std::string::npos) << log();
        EXPECT_TRUE(anyContains(m_events, "\"unwritable\"") && anyContains(m_events, Deployment::releasesPageURL));
        EXPECT_NE(made->info().value("note", "").find("can't update itself"), std::string::npos);
    }
    EXPECT_TRUE(m_processes.launches.empty());
    EXPECT_FALSE(m_quit);
    // Only the feed was read: nothing was downloaded for a copy that can't take it.
    EXPECT_EQ(requests(feedURL), static_cast<long>(m_http.sent.size()));

    // A folder that becomes shared after the check is still refused before anything moves.
    installOldVersion();
    UpdateInstaller installer(m_prefix);
    auto staged = installer.stage(archive, "0.2.0", "0.1.0");
    writeText(m_prefix / "bin" / "other-tool", "someone else's");
    auto before = contents(m_prefix);
    EXPECT_THROW(installer.swapIn(staged, "0.1.0"), FileError);
    EXPECT_EQ(contents(m_prefix), before);
    EXPECT_FALSE(fs::exists(staged.folder));
    EXPECT_FALSE(fs::exists(installer.previousTree()));
}

TEST_F(UpdaterTest, OnlyATreeThatIsOursAloneIsEverRemovedOrPutBackAndStagingStaysBesideIt)
{
    UpdateInstaller installer(m_prefix);
    auto previous = installer.previousTree();
    auto trial = m_prefix / "share" / "quillpost" / ".update-trial.json";
    const std::vector<std::pair<std::string, std::function<void()>>> notOurs {
        { "no manifest", [&] { writeText(previous / "share" / "keyrings" / "login.keyring", "secret"); } },
        { "something unlisted", [&] {
             writeText(InstallManifest::location(previous), manifestText("0.1.0", { "bin/quillpost" }));
             writeText(previous / "bin" / "quillpost", "old program");
             writeText(previous / "share" / "Quillpost" / "data.json", "{}");
         } },
    };
    for (auto& [name, make] : notOurs) {
        SCOPED_TRACE(name);
        std::error_code ignored;
        fs::remove_all(previous, ignored);
        make();
        auto before = contents(previous);
        writeText(trial, R"({"from":"0.1.0","to":"0.2.0","starts":0})");
        EXPECT_NE(installer.commit().value_or("").find(previous.string()), std::string::npos);
        EXPECT_EQ(contents(previous), before);
        EXPECT_FALSE(fs::exists(trial));

        // Nor does such a tree take the program's place.
        writeText(trial, R"({"from":"0.1.0","to":"0.2.0","starts":2})");
        EXPECT_EQ(installer.atStart(), UpdateInstaller::StartOutcome::Normal);
        EXPECT_EQ(page(), "old page");
        EXPECT_EQ(contents(previous), before);
        fs::remove(trial);
    }

    // A version with path separators never reaches beyond the staging area.
    for (auto* version : { "../../victim", "a/b", "..", ".", "", "\n/", "0.2.0\\..\\x" }) {
        auto folder = UpdateInstaller(m_prefix).stagingFolder(version);
        EXPECT_EQ(folder.parent_path(), m_prefix.parent_path()) << version;
        EXPECT_TRUE(folder.filename().string().starts_with(".quillpost-update-")) << version;
        EXPECT_EQ(folder.filename().string().find_first_of("/\\\n"), std::string::npos) << version;
    }
    EXPECT_LE(UpdateInstaller(m_prefix).stagingFolder(std::string(5000, 'a')).filename().string().size(), 100u);
}

TEST_F(UpdaterTest, RefusesAnArchiveNotSignedByTheKeyOlderOrNotWhatTheFeedAnnouncedAndChangesNothing)
{
    auto archive = archiveOf(release("new page"));
    TestSigner stranger;
    auto withoutManifest = release("new page");
    withoutManifest.pop_back();
    auto unlisted = release("new page");
    unlisted.push_back({ "quillpost-0.2.0/share/quillpost/extra.js", "unlisted" });
    auto badVersion = release("new page");
    badVersion.back().content = manifestText("0.2.0/../x", releaseFiles);
    const std::vector<std::tuple<std::string, std::optional<std::string>, std::string>> cases {
        { archive, stranger.sign(archive), "signature doesn't match" },
        { archiveOf(release("tampered page")), m_signer.sign(archive), "signature doesn't match" },
        { archive, "", "isn't signed" },
        { archive, "bm90IGEgc2lnbmF0dXJl", "signature doesn't match" },
        { archiveOf(release("old signed page", "0.0.5")), {}, "0.0.5, which isn't newer than this 0.1.0" },
        { archiveOf(release("same page", "0.1.0")), {}, "refused as a downgrade" },
        { archiveOf(release("later page", "0.3.0")), {}, "holds Quillpost 0.3.0, not the 0.2.0 its feed announced" },
        { archiveOf(withoutManifest), {}, "doesn't say which version it holds" },
        { archiveOf(badVersion), {}, "doesn't say which version it holds" },
        { archiveOf(unlisted), {}, "its own list of files doesn't name" },
    };
    for (auto& [bytes, signature, why] : cases) {
        SCOPED_TRACE(why);
        m_events.clear();
        runUpdate(bytes, signature);
        EXPECT_NE(log().find(why), std::string::npos) << log();
        ASSERT_GE(m_events.size(), 2u);
        EXPECT_NE(m_events[m_events.size() - 2].find(why), std::string::npos) << m_events[m_events.size() - 2];
        EXPECT_EQ(page(), "old page");
        EXPECT_FALSE(fs::exists(UpdateInstaller(m_prefix).stagingFolder("0.2.0")));
    }
    EXPECT_TRUE(m_processes.launches.empty());
    EXPECT_FALSE(m_quit);
}

// Outside test mode: a check a day after the last, a scheduled find only told unless the user
// wants downloads, a check the user asks for always downloads, and none while turned off.
TEST_F(UpdaterTest, ScheduledChecksComeADayApartAndDownloadOnlyWhenTheUserSaidSo)
{
    // A packaged copy, or one on a data folder of its own, never checks.
    EXPECT_NE(UpdateInstaller("/usr").cannotInstall().value_or("").find("package manager"), std::string::npos);
    auto idle = updater(false);
    idle->start();
    run(std::chrono::hours(48));
    EXPECT_TRUE(m_http.sent.empty());
    EXPECT_EQ(idle->info()["canCheck"], false);

    m_store->config()["updateLastCheck"] = Store::isoTime(m_clock.now() - std::chrono::hours(23));
    m_store->saveConfig();
    const std::string feed = appcast("0.2.0", "c2ln", 10);
    auto made = updater(false, false);
    made->start();
    EXPECT_FALSE(made->info()["autoDownload"].get<bool>());
    run(std::chrono::minutes(59));
    EXPECT_EQ(requests(feedURL), 0) << "the last check was 23 hours ago: the next waits the hour left";
    run(std::chrono::minutes(1));
    EXPECT_EQ(requests(feedURL), 1);
    m_http.answer(feedURL, FakeHttpClient::ok(feed));
    EXPECT_TRUE(anyContains(m_events, R"("scheduled":true)"));
    EXPECT_EQ(requests(archiveURL), 0) << "without automatic downloads a scheduled find only tells";

    m_events.clear();
    made->checkNow();
    m_http.answer(feedURL, FakeHttpClient::ok(feed));
    EXPECT_TRUE(anyContains(m_events, R"("status":"available")"));
    EXPECT_FALSE(anyContains(m_events, "scheduled"));
    EXPECT_EQ(requests(archiveURL), 1);
    m_http.answer(archiveURL, FakeHttpClient::failed("no network"));

    made->setAutomatic(false);
    EXPECT_FALSE(made->info()["automatic"].get<bool>());
    run(Updater::checkInterval * 2);
    EXPECT_EQ(requests(feedURL), 2) << "turned off, nothing is checked";
    made->setAutoDownload(true);
    EXPECT_EQ(Json::parse(*readFile(m_folder / "data" / "config.json"))["updateAutoDownload"], true);
    made->setAutomatic(true);
    run(std::chrono::seconds(10));
    EXPECT_EQ(requests(feedURL), 3) << "turned on after more than a day, the check comes soon";
    m_http.answer(feedURL, FakeHttpClient::ok(feed));
    EXPECT_EQ(requests(archiveURL), 2) << "with automatic downloads a scheduled find downloads";
    EXPECT_EQ(m_http.sent.back().request.timeout, std::chrono::seconds(60)) << "an idle time, not the whole download's";
}

TEST_F(UpdaterTest, OutsideTestModeADownloadedReleaseIsInstalledOnlyWhenTheUserQuits)
{
    auto made = updater(false, false);
    int flushes = 0;
    made->flushForUpdate = [&](std::function<void()> next) {
        ++flushes;
        next();
    };
    bool quitGoesOn = false;
    made->installOnQuit([&] { quitGoesOn = true; });
    EXPECT_TRUE(quitGoesOn) << "with nothing downloaded the quit goes on at once";
    EXPECT_EQ(flushes, 0);

    auto archive = archiveOf(release("new page"));
    made->setAutoDownload(true);
    made->start();
    run(std::chrono::seconds(10));
    m_http.answer(feedURL, FakeHttpClient::ok(appcast("0.2.0", m_signer.sign(archive), archive.size())));
    m_http.answer(archiveURL, FakeHttpClient::ok(archive));
    m_clock.runPosted();
    ASSERT_TRUE(made->hasDownloadedUpdate());
    EXPECT_EQ(page(), "old page");

    quitGoesOn = false;
    made->installOnQuit([&] { quitGoesOn = true; });
    m_clock.runPosted();
    EXPECT_EQ(flushes, 1) << "the page saves before the swap";
    EXPECT_TRUE(quitGoesOn);
    EXPECT_EQ(page(), "new page");
    ASSERT_EQ(m_processes.runs.size(), 1u);
    EXPECT_EQ(m_processes.runs[0].back(), "--self-check");
    EXPECT_TRUE(m_processes.launches.empty()) << "the user quit: nothing is started again";
    EXPECT_FALSE(m_quit);
    EXPECT_FALSE(made->hasDownloadedUpdate());
}

}
}
