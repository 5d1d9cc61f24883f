#include "pdfcraft/PdfCraft.h"

#include "doubles/Archive.h"
#include "doubles/FakeHttpClient.h"
#include "doubles/PdfCraftDoubles.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "common/Files.h"
#include "store/Store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* listingURL = "https://api.example.test/latest";
constexpr const char* sumsURL = "https://example.test/SHA256SUMS.txt";

// Runs the real program to its end, quietly: unzip does the unpacking in these tests.
ProcessRunner::Result runNow(const std::vector<std::string>& arguments)
{
    std::string command;
    for (auto& argument : arguments)
        command += "'" + argument + "' ";
    const int status = std::system((command + ">/dev/null 2>&1").c_str());
    return { true, WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}, {} };
}

std::string zipURL(const std::string& version)
{
    return "https://example.test/pdfcraft-web-" + version + ".zip";
}

Json listing(const std::string& version, bool withZip = true, bool withSums = true)
{
    Json assets = Json::array();
    assets.push_back({ { "name", "notes.txt" }, { "browser_download_url", "https://example.test/notes.txt" } });
    if (withZip)
        assets.push_back({ { "name", "pdfcraft-web-" + version + ".zip" }, { "browser_download_url", zipURL(version) } });
    if (withSums)
        assets.push_back({ { "name", "SHA256SUMS.txt" }, { "browser_download_url", sumsURL } });
    return { { "tag_name", "v" + version }, { "published_at", "2026-01-02T03:04:05Z" }, { "html_url", "https://example.test/release" }, { "assets", assets } };
}

// A release's zip: the site's files under prefix.
std::string siteZip(const std::string& prefix = "", bool withScript = true)
{
    std::vector<ArchiveEntry> entries { { prefix + "index.html", "<html>new</html>" }, { prefix + "pdfcraft_bg.wasm", "wasm" },
        { prefix + "VERSION.txt", "from the zip" } };
    if (withScript)
        entries.push_back({ prefix + "pdfcraft.js", "window.wasmBindings = {};" });
    return archiveOf(entries, ArchiveFormat::Zip);
}

std::string sums(const std::string& zip, const std::string& version, const std::string& separator = "  ")
{
    return PdfCraftRelease::sha256(zip) + separator + "pdfcraft-web-" + version + ".zip\n";
}

class PdfCraftUpdateTest : public testing::Test {
protected:
    PdfCraftUpdateTest()
    {
        writeText(m_folder / "builtin" / "index.html", "<html>built in</html>");
        writeText(m_folder / "builtin" / "VERSION.txt", "PdfCraft web 2.4.0");
        writeText(m_store.data(), R"({"clients":[]})");
        m_processes.respond = runNow;
        m_pdfcraft.progress = [this](const Json& event) { m_events.push_back(event); };
    }

    fs::path root() { return m_pdfcraft.editorRoot(); }

    std::vector<std::string> installs()
    {
        auto names = namesInFolder(root());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Runs an update, answering the network with these bodies and the start-up test with started.
    std::optional<Json> update(const Json& release, const std::string& zip, std::optional<std::string> checksums = {}, bool started = true)
    {
        std::optional<Json> result;
        m_pdfcraft.update([&](Json answer) { result = std::move(answer); });
        const std::string version = release.value("tag_name", "").substr(1);
        if (!result)
            m_http.answer(listingURL, FakeHttpClient::ok(release.dump()));
        if (!result)
            m_http.answer(zipURL(version), FakeHttpClient::ok(zip));
        if (!result)
            m_http.answer(sumsURL, FakeHttpClient::ok(checksums.value_or(sums(zip, version))));
        settle(result, started);
        return result;
    }

    // Lets the unpacking and the start-up test run, the candidate answering with started.
    void settle(const std::optional<Json>& result, bool started = true)
    {
        m_clock.runPosted();
        for (int i = 0; i < 200 && !result; ++i) {
            for (auto& webView : m_editor.webViews)
                webView->answerEvaluations(Json(started));
            m_clock.advance(250ms);
        }
        m_clock.runPosted();
    }

    // "ok", or the step an update stopped at and what it said.
    static std::string outcome(const std::optional<Json>& result)
    {
        if (!result || result->value("ok", false))
            return result ? "ok" : "no answer";
        return result->value("step", "") + ": " + result->value("error", "");
    }

    TemporaryFolder m_folder { "quillpost-pdfcraft-update" };
    VirtualClock m_clock;
    Store m_store { Store::Location { m_folder / "data", true, m_folder / "home", m_folder / "home" / "Documents" }, Store::Services { m_clock, m_clock, m_clock } };
    FakeHttpClient m_http;
    FakeProcessRunner m_processes { m_clock };
    FakePanels m_panels;
    FakeWorkspace m_workspace;
    EditorDoubles m_editor;
    PdfCraft m_pdfcraft { { .store = m_store, .mainQueue = m_clock, .clock = m_clock, .http = m_http, .processes = m_processes,
        .windows = m_editor.windowServices(m_panels, m_workspace), .compileRules = m_editor.compiler(),
        .builtInSite = m_folder / "builtin", .releasesURL = listingURL } };
    std::vector<Json> m_events;
};

TEST(PdfCraftReleaseTest, ComparesVersionsNumberByNumber)
{
    const std::tuple<const char*, const char*, bool> newer[] = {
        { "2.10", "2.9", true }, { "2.4.1", "2.4", true }, { "2.5", "2.4", true }, { "3", "2.99.99", true }, { "2.4", "2.4.0", false },
        { "2.4", "2.4", false }, { "", "", false }, { "2.x", "2.0", false }, { "99999999999999999999999", "1", false },
    };
    for (auto [a, b, expected] : newer)
        EXPECT_EQ(PdfCraftRelease::newer(a, b), expected) << a << " against " << b;
    const std::pair<const char*, const char*> found[] = {
        { "PdfCraft web 2.4.1 (installed 2026-12-05T12:00:00Z, sha256 00ff)", "2.4.1" },
        { "PdfCraft web 2.4", "2.4" },
        { "10.20.30.40 and 1.2", "10.20.30.40" },
        { "v12. 3.45x", "3.45" },
        { "2.4. and more", "2.4" },
        { "none", "" },
    };
    for (auto [text, version] : found)
        EXPECT_EQ(PdfCraftRelease::versionIn(text), version) << text;
}

TEST(PdfCraftReleaseTest, ReadsTheReleaseAndMatchesItsChecksumLine)
{
    auto release = PdfCraftRelease::from(listing("2.5"));
    EXPECT_EQ(release.version, "2.5");
    EXPECT_EQ(release.zipName, "pdfcraft-web-2.5.zip");
    EXPECT_EQ(release.zipURL, zipURL("2.5"));
    EXPECT_EQ(release.sumsURL, sumsURL);
    EXPECT_EQ(release.page, "https://example.test/release");

    Json odd = listing("2.5");
    odd["assets"].push_back("not an object");
    EXPECT_FALSE(PdfCraftRelease::from(odd).zipURL);
    odd = listing("2.5");
    odd["assets"][1]["browser_download_url"] = "file:///etc/passwd";
    EXPECT_FALSE(PdfCraftRelease::from(odd).zipURL);
    odd = listing("2.5");
    odd["tag_name"] = 25;
    odd["assets"][0]["name"] = 25;
    odd["html_url"] = Json::array();
    EXPECT_EQ(PdfCraftRelease::from(odd).version, "");
    EXPECT_EQ(PdfCraftRelease::from(odd).page, "");

    const std::string digest = PdfCraftRelease::sha256("zip bytes");
    std::string upper = digest;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_TRUE(PdfCraftRelease::checksumMatches("other  x.zip\n\n" + digest + "  pdfcraft-web-2.5.zip\n", "pdfcraft-web-2.5.zip", digest));
    EXPECT_TRUE(PdfCraftRelease::checksumMatches("\t" + upper + " *pdfcraft-web-2.5.zip \n", "pdfcraft-web-2.5.zip", digest));
    EXPECT_FALSE(PdfCraftRelease::checksumMatches(digest + "  pdfcraft-web-2.5.zip\r\n", "pdfcraft-web-2.5.zip", digest));
    EXPECT_FALSE(PdfCraftRelease::checksumMatches(std::string(64, '0') + "  pdfcraft-web-2.5.zip\n" + digest + "  pdfcraft-web-2.5.zip\n", "pdfcraft-web-2.5.zip", digest));
    EXPECT_FALSE(PdfCraftRelease::checksumMatches(digest + "  pdfcraft-web-2.6.zip\n", "pdfcraft-web-2.5.zip", digest));
}

TEST(PdfCraftSiteCheck, AFolderIsAllInsideOnlyWhenItIsThereWithoutLinks)
{
    TemporaryFolder folder;
    writeText(folder / "site" / "index.html", "editor");
    EXPECT_TRUE(PdfCraft::allInside(folder / "site"));
    EXPECT_FALSE(PdfCraft::allInside(folder / "missing"));
    fs::create_symlink(folder / "elsewhere", folder / "site" / "link");
    EXPECT_FALSE(PdfCraft::allInside(folder / "site"));
}

TEST_F(PdfCraftUpdateTest, InstallsAVerifiedAndTestedRelease)
{
    EXPECT_EQ(m_pdfcraft.info(), (Json { { "version", "2.4.0" }, { "bundled", "2.4.0" }, { "updated", false }, { "open", 0 }, { "canRollback", false } }));
    const std::string zip = siteZip("dist/");
    ASSERT_EQ(update(listing("2.5.1"), zip), (Json { { "ok", true }, { "version", "2.5.1" } }));
    EXPECT_EQ(m_events.size(), 11u) << "each step starts and ends, then the switch";

    const fs::path site = m_pdfcraft.current();
    EXPECT_EQ(site.parent_path().parent_path(), root());
    EXPECT_EQ(site.filename(), "dist");
    EXPECT_EQ(readText(site / "VERSION.txt"), "PdfCraft web 2.5.1 (installed 2024-05-01T12:00:00Z, sha256 " + PdfCraftRelease::sha256(zip) + ")");
    EXPECT_TRUE(m_store.config()["pdfcraftPrev"].is_null());
    EXPECT_EQ(readText(m_store.snapshotsDir() / "before-pdfcraft-update-1714564800000.json"), R"({"clients":[]})");
    EXPECT_EQ(installs().size(), 1u);

    // The start-up test ran the candidate in a hidden window of its own, then closed it.
    ASSERT_EQ(m_editor.windows.size(), 1u);
    EXPECT_FALSE(m_editor.windows[0]->presented);
    EXPECT_TRUE(m_editor.windows[0]->closed);
    EXPECT_EQ(m_editor.webViews[0]->scripts, std::vector<std::string> { "!!window.wasmBindings" });
    ASSERT_EQ(m_http.sent.size(), 3u);
    for (auto& sent : m_http.sent)
        EXPECT_EQ(sent.request.timeout, 60s);

    // The installed x.y.z is the newest: neither offered nor installed again.
    std::optional<Json> checked;
    m_pdfcraft.check([&](Json answer) { checked = std::move(answer); });
    m_http.answer(listingURL, FakeHttpClient::ok(listing("2.5.1").dump()));
    ASSERT_TRUE(checked);
    EXPECT_EQ(checked->at("current"), "2.5.1");
    EXPECT_EQ(checked->at("available"), false);
    EXPECT_EQ(outcome(update(listing("2.5.1"), zip)), "download: You already have the newest version.");
}

TEST_F(PdfCraftUpdateTest, RefusesBeforeDownloadingWhenItCannotGoAhead)
{
    m_pdfcraft.open(std::nullopt, "");
    EXPECT_EQ(update(listing("2.5"), siteZip())->at("open"), 1);
    EXPECT_TRUE(m_events.empty());
    m_editor.windows[0]->close();

    const std::string noWebVersion = "download: That release has no web version to install.";
    EXPECT_EQ(outcome(update(listing("2.5", false), siteZip())), noWebVersion);
    EXPECT_EQ(outcome(update(listing("2.5", true, false), siteZip())), noWebVersion);
    EXPECT_EQ(outcome(update(listing("2.4.0"), siteZip())), "download: You already have the newest version.");
    EXPECT_EQ(m_events.back()["state"], "fail");

    std::optional<Json> result;
    m_pdfcraft.update([&](Json answer) { result = answer; });
    std::optional<Json> second;
    m_pdfcraft.update([&](Json answer) { second = answer; });
    EXPECT_EQ(second->at("step"), "busy");
    m_http.answer(listingURL, FakeHttpClient::ok(listing("2.5").dump()));
    m_http.answer(zipURL("2.5"), FakeHttpClient::ok("", 404));
    EXPECT_NE(outcome(result).find("download: The download didn't finish (GitHub answered 404)"), std::string::npos);

    // The backup goes where the snapshots folder should be; a file there stops it.
    fs::remove_all(m_store.snapshotsDir());
    writeText(m_store.snapshotsDir(), "in the way");
    EXPECT_TRUE(outcome(update(listing("2.5"), siteZip())).starts_with("backup: Couldn't back up your data"));
    EXPECT_FALSE(fs::exists(root()));
    EXPECT_EQ(m_pdfcraft.current(), m_folder / "builtin");
}

TEST_F(PdfCraftUpdateTest, RefusesADownloadThatDoesNotMatchReachesOutsideOrLacksTheEditor)
{
    EXPECT_TRUE(outcome(update(listing("2.5"), siteZip(), sums("other bytes", "2.5"))).starts_with("verify: The download didn't match"));
    EXPECT_FALSE(fs::exists(root()));
    const std::vector<ArchiveEntry> linked { { "index.html", "x" }, { "a.wasm", "x" }, { "a.js", "x" }, { "passwd.js", "", "/etc/passwd" } };
    const std::pair<std::string, std::string> refused[] = {
        { archiveOf(linked, ArchiveFormat::Zip), "unpack: The download looked incomplete (unexpected files)" },
        { archiveOf({ { "index.html", "x" }, { "../../escaped.txt", "x" } }, ArchiveFormat::Zip), "unpack: " },
        { siteZip("a/b/c/d/"), "unpack: The download looked incomplete (files are missing)" },
        { siteZip("", false), "unpack: The download looked incomplete (files are missing)" },
        { "not a zip", "unpack: The download looked incomplete (could not unpack the download)" },
    };
    for (auto& [zip, expected] : refused) {
        SCOPED_TRACE(expected);
        EXPECT_TRUE(outcome(update(listing("2.5"), zip)).starts_with(expected));
        EXPECT_EQ(installs(), std::vector<std::string> {});
    }
    EXPECT_FALSE(fs::exists(m_folder / "escaped.txt"));
    EXPECT_FALSE(fs::exists(m_folder / "data" / "escaped.txt"));
    EXPECT_EQ(m_pdfcraft.current(), m_folder / "builtin");
    EXPECT_EQ(outcome(update(listing("2.5"), siteZip("a/b/c/"))), "ok");
}

TEST_F(PdfCraftUpdateTest, StaysOnTheCurrentVersionWhenTheNewOneNeverStarts)
{
    auto result = update(listing("2.5"), siteZip(), std::nullopt, false);
    EXPECT_TRUE(outcome(result).starts_with("test: The new version didn't start properly")) << outcome(result);
    ASSERT_EQ(m_editor.webViews.size(), 1u);
    EXPECT_EQ(m_editor.webViews[0]->scripts.size(), 120u);
    EXPECT_TRUE(m_editor.windows[0]->closed);
    EXPECT_EQ(installs(), std::vector<std::string> {});
    EXPECT_FALSE(m_store.config().contains("pdfcraft"));
}

TEST_F(PdfCraftUpdateTest, AWindowAskedForDuringAnUpdateOpensOnceTheSwitchIsDone)
{
    const std::string zip = siteZip();
    for (bool switched : { true, false }) {
        SCOPED_TRACE(switched ? "the update succeeds" : "the update fails");
        const size_t before = m_editor.windows.size();
        std::optional<Json> result;
        m_pdfcraft.update([&](Json answer) { result = std::move(answer); });
        m_http.answer(listingURL, FakeHttpClient::ok(listing("2.5").dump()));
        ASSERT_TRUE(m_pdfcraft.open(std::nullopt, "held.pdf"));
        m_clock.runPosted();
        EXPECT_EQ(m_editor.windows.size(), before) << "no window opens while the sites may switch";
        m_http.answer(zipURL("2.5"), FakeHttpClient::ok(zip));
        m_http.answer(sumsURL, FakeHttpClient::ok(sums(switched ? zip : "other bytes", "2.5")));
        settle(result);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->at("ok"), switched);
        // The start-up test's hidden window, if any, and then the held one, shown.
        ASSERT_GT(m_editor.windows.size(), before);
        EXPECT_TRUE(m_editor.windows.back()->presented);
        EXPECT_EQ(m_pdfcraft.info()["open"], 1);
        m_editor.windows.back()->close();
        m_clock.runPosted();
        // Installed once, the same release isn't a reason to hold windows again.
        m_store.config().erase("pdfcraft");
    }
}

TEST_F(PdfCraftUpdateTest, KeepsTwoVersionsAndRollsBackThroughThemToTheBuiltInSite)
{
    std::vector<fs::path> sites;
    for (auto* version : { "2.5", "2.6", "2.7" }) {
        m_clock.advance(1s);
        ASSERT_EQ(outcome(update(listing(version), siteZip())), "ok");
        sites.push_back(m_pdfcraft.current());
    }
    EXPECT_EQ(installs(), (std::vector<std::string> { sites[1].filename().string(), sites[2].filename().string() }));
    EXPECT_FALSE(fs::exists(sites[0]));

    // Installed → rolled back to the one before → built in.
    Json info = m_pdfcraft.rollback();
    EXPECT_EQ(m_pdfcraft.current(), sites[1]);
    EXPECT_EQ(info["canRollback"], true);
    EXPECT_EQ(m_store.config()["pdfcraft"], (Json { { "version", "2.6" }, { "dir", sites[1].string() } }));
    EXPECT_FALSE(m_store.config().contains("pdfcraftPrev"));
    info = m_pdfcraft.rollback();
    EXPECT_EQ(m_pdfcraft.current(), m_folder / "builtin");
    EXPECT_EQ(info["updated"], false);
    EXPECT_FALSE(m_store.config().contains("pdfcraft"));
    EXPECT_EQ(installs().size(), 2u);

    // A setting that points outside the editor root is not followed.
    m_store.config()["pdfcraft"] = { { "dir", (root() / ".." / ".." / "builtin").string() } };
    EXPECT_EQ(m_pdfcraft.current(), m_folder / "builtin");
}

}
}
