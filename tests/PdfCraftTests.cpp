#include "pdfcraft/PdfCraft.h"
#include "pdfcraft/PdfCraftScheme.h"

#include "common/Base64.h"
#include "common/Files.h"
#include "doubles/Archive.h"
#include "doubles/CommandHarness.h"
#include "doubles/FakeHttpClient.h"
#include "doubles/PdfCraftDoubles.h"
#include "doubles/SchemeBody.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
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
    // The rest of a good release is read by the update tests.
    EXPECT_EQ(PdfCraftRelease::from(listing("2.5")).page, "https://example.test/release");
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

class PdfCraftTest : public testing::Test {
protected:
    PdfCraftTest()
    {
        writeText(m_folder / "builtin" / "index.html", "<html></html>");
        writeText(m_folder / "builtin" / "VERSION.txt", "PdfCraft web 2.4.0");
        writeText(m_store.data(), R"({"clients":[]})");
        fs::create_directories(documents());
        m_processes.respond = runNow;
        m_pdfcraft.progress = [this](const Json& event) { m_events.push_back(event); };
    }

    fs::path documents() const { return m_folder / "home" / "Documents"; }
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

    SchemeResponse fetch(size_t window, const std::string& url)
    {
        std::optional<SchemeResponse> answer;
        m_editor.configurations.at(window).schemeHandlers.at("pdfcraft")({ url, "GET", {} }, [&](std::optional<SchemeResponse> response, std::string) {
            answer = std::move(response);
        });
        return answer ? std::move(*answer) : SchemeResponse {};
    }

    TemporaryFolder m_folder { "quillpost-pdfcraft" };
    VirtualClock m_clock;
    Store m_store { Store::Location { m_folder / "data", true, m_folder / "home", documents() }, Store::Services { m_clock, m_clock, m_clock } };
    FakeHttpClient m_http;
    FakeProcessRunner m_processes { m_clock };
    FakePanels m_panels;
    FakeWorkspace m_workspace;
    EditorDoubles m_editor;
    std::vector<std::string> m_log;
    PdfCraft m_pdfcraft { { .store = m_store, .mainQueue = m_clock, .clock = m_clock, .http = m_http, .processes = m_processes,
        .windows = m_editor.windowServices(m_panels, m_workspace, documents()), .compileRules = m_editor.compiler(),
        .builtInSite = m_folder / "builtin", .releasesURL = listingURL,
        .log = [this](const std::string& message) { m_log.push_back(message); } } };
    std::vector<Json> m_events;
};

TEST_F(PdfCraftTest, InstallsAVerifiedAndTestedRelease)
{
    EXPECT_EQ(m_pdfcraft.info(), (Json { { "version", "2.4.0" }, { "bundled", "2.4.0" }, { "updated", false }, { "open", 0 }, { "canRollback", false } }));
    const std::string zip = siteZip("dist/");
    ASSERT_EQ(update(listing("2.5.1"), zip), (Json { { "ok", true }, { "version", "2.5.1" } }));
    ASSERT_EQ(m_events.size(), 11u) << "each step starts and ends, then the switch";
    EXPECT_EQ(m_events[3], (Json { { "step", "download" }, { "state", "ok" }, { "detail", "0.0 MB" } }));

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
    EXPECT_EQ(m_http.sent.size(), 3u);

    // The installed x.y.z is the newest: neither offered nor installed again.
    std::optional<Json> checked;
    m_pdfcraft.check([&](Json answer) { checked = std::move(answer); });
    m_http.answer(listingURL, FakeHttpClient::ok(listing("2.5.1").dump()));
    ASSERT_TRUE(checked);
    EXPECT_EQ(checked->at("current"), "2.5.1");
    EXPECT_EQ(checked->at("available"), false);
    EXPECT_EQ(outcome(update(listing("2.5.1"), zip)), "download: You already have the newest version.");
}

TEST_F(PdfCraftTest, RefusesBeforeDownloadingWhenItCannotGoAhead)
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

TEST_F(PdfCraftTest, RefusesADownloadThatDoesNotMatchReachesOutsideLacksTheEditorOrNeverStarts)
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

    // A new version that never starts is tried for half a minute, then left out.
    EXPECT_TRUE(outcome(update(listing("2.5"), siteZip(), std::nullopt, false)).starts_with("test: "));
    ASSERT_EQ(m_editor.webViews.size(), 1u);
    EXPECT_EQ(m_editor.webViews[0]->scripts.size(), 120u);
    EXPECT_TRUE(m_editor.windows[0]->closed);
    EXPECT_EQ(installs(), std::vector<std::string> {});
    EXPECT_FALSE(m_store.config().contains("pdfcraft"));
    EXPECT_EQ(outcome(update(listing("2.5"), siteZip("a/b/c/"))), "ok");
}

TEST_F(PdfCraftTest, AWindowAskedForDuringAnUpdateOpensOnceTheSwitchIsDone)
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

TEST_F(PdfCraftTest, KeepsTwoVersionsAndRollsBackThroughThemToTheBuiltInSite)
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

TEST_F(PdfCraftTest, OpensAnOfflineWindowOnTheEditorOrNoneWithoutOneAndHandsADocumentOverForTenMinutes)
{
    m_editor.compileFails = true;
    ASSERT_TRUE(m_pdfcraft.open(std::nullopt, ""));
    EXPECT_TRUE(m_editor.configurations[0].contentRules.empty()) << "rules that don't compile leave the window without them";
    EXPECT_EQ(m_log.size(), 1u);
    m_editor.compileFails = false;
    for (int index = 1; index < 3; ++index)
        ASSERT_TRUE(m_pdfcraft.open(std::nullopt, ""));
    ASSERT_EQ(m_editor.windows.size(), 3u);
    EXPECT_TRUE(m_editor.windows[1]->presented);
    const auto& configuration = m_editor.configurations[1];
    EXPECT_TRUE(configuration.ephemeral);
    EXPECT_FALSE(configuration.inspectable);
    EXPECT_EQ(configuration.contentRules.size(), 1u);
    EXPECT_EQ(m_editor.compiledSources.size(), 2u) << "compiled once, then shared";
    EXPECT_EQ(m_editor.webViews[1]->requests, std::vector<std::string> { "pdfcraft://app/index.html" });
    EXPECT_EQ(fetch(1, "pdfcraft://app/").bodyFileLength, 13u);
    EXPECT_EQ(m_pdfcraft.windows().size(), 3u);

    // A document handed over is served for ten minutes.
    ASSERT_TRUE(m_pdfcraft.open(std::string("%PDF-1.7 one"), "a/b\\c.pdf"));
    ASSERT_TRUE(m_pdfcraft.open(std::string("%PDF-1.7 one"), ""));
    ASSERT_EQ(m_pdfcraft.docs().size(), 2u);
    EXPECT_EQ(m_editor.windowOptions[3].title, "a/b\\c.pdf \xE2\x80\x94 PdfCraft");

    const std::string& url = m_editor.webViews[3]->requests.at(0);
    const std::string prefix = "pdfcraft://app/index.html?file=pdfcraft%3A%2F%2Fapp%2Fdoc%2F";
    ASSERT_TRUE(url.starts_with(prefix)) << url;
    ASSERT_TRUE(url.ends_with("%2Fa%2Db%2Dc%2Epdf")) << url;
    const std::string token = url.substr(prefix.size(), 32);
    EXPECT_TRUE(m_pdfcraft.docs().contains(token));
    EXPECT_TRUE(m_editor.webViews[4]->requests.at(0).ends_with("%2Fdocument%2Epdf"));

    const std::string document = "pdfcraft://app/doc/" + token + "/a-b-c.pdf";
    EXPECT_EQ(fetch(3, document).body, "%PDF-1.7 one");
    m_clock.advance(599s);
    EXPECT_EQ(fetch(3, document).status, 200);
    m_clock.advance(1s);
    EXPECT_EQ(fetch(3, document).body, "gone");
    EXPECT_TRUE(m_pdfcraft.docs().empty());

    fs::remove(m_folder / "builtin" / "index.html");
    EXPECT_FALSE(m_pdfcraft.open(std::string("%PDF"), "x.pdf"));
    EXPECT_EQ(m_editor.windows.size(), 5u);
    EXPECT_TRUE(m_pdfcraft.docs().empty());
}

// Quitting asks every editor window with unsaved changes, one after the other; a window the
// user keeps stops the round, and the windows after it aren't touched.
TEST_F(PdfCraftTest, CloseBeforeQuitAsksEachChangedWindowAndStopsAtAKeptOneAndCloseAllCountsTheRest)
{
    std::vector<bool> rounds;
    auto record = [&](bool allClosed) { rounds.push_back(allClosed); };
    m_pdfcraft.closeBeforeQuit(record);
    EXPECT_EQ(rounds, std::vector { true }) << "no windows: at once";

    for (int index = 0; index < 3; ++index)
        m_pdfcraft.open(std::nullopt, "");
    auto& clean = *m_editor.webViews[0];
    auto& edited = *m_editor.webViews[1];
    auto& last = *m_editor.webViews[2];

    m_pdfcraft.closeBeforeQuit(record);
    EXPECT_TRUE(edited.evaluations.empty()) << "one window at a time";
    clean.answerEvaluations(Json(false));
    EXPECT_TRUE(m_editor.windows[0]->closed);
    edited.answerEvaluations(Json(true));
    ASSERT_EQ(m_panels.questions.size(), 1u);
    EXPECT_EQ(m_panels.lastParent, m_editor.windows[1].get());
    m_panels.choose(0);
    EXPECT_EQ(rounds, (std::vector { true, false }));
    EXPECT_FALSE(m_editor.windows[1]->closed);
    EXPECT_TRUE(last.evaluations.empty()) << "the window after the kept one isn't asked";
    EXPECT_EQ(m_pdfcraft.windows().size(), 2u);

    // The user's own click had the question open already: the quit waits for that answer, and a
    // dismissed question keeps the window.
    m_editor.windows[1]->performClose();
    edited.answerEvaluations(Json(true));
    m_pdfcraft.closeBeforeQuit(record);
    EXPECT_TRUE(edited.evaluations.empty());
    EXPECT_EQ(m_panels.questions.size(), 2u);
    m_panels.choose(std::nullopt);
    EXPECT_EQ(rounds, (std::vector { true, false, false }));

    m_pdfcraft.closeBeforeQuit(record);
    edited.answerEvaluations(Json(true));
    m_panels.choose(1);
    EXPECT_TRUE(m_editor.windows[1]->closed);
    EXPECT_EQ(rounds.size(), 3u) << "the next window is still to be asked";
    last.answerEvaluations(std::nullopt, "the page is gone");
    EXPECT_TRUE(m_editor.windows[2]->closed);
    EXPECT_EQ(rounds, (std::vector { true, false, false, true }));
    EXPECT_TRUE(m_pdfcraft.windows().empty());
    m_clock.runPosted();

    // Closing all counts the windows still open after a moment.
    std::optional<int> stillOpen;
    m_pdfcraft.closeAll([&](int count) { stillOpen = count; });
    m_clock.advance(799ms);
    EXPECT_FALSE(stillOpen);
    m_clock.advance(1ms);
    EXPECT_EQ(stillOpen, 0);

    m_pdfcraft.open(std::nullopt, "");
    m_pdfcraft.open(std::nullopt, "");
    m_pdfcraft.closeAll([&](int count) { stillOpen = count; });
    m_editor.webViews[3]->answerEvaluations(Json(false));
    m_editor.webViews[4]->answerEvaluations(Json(true));
    m_clock.advance(800ms);
    EXPECT_EQ(stillOpen, 1);
    EXPECT_EQ(m_pdfcraft.info()["open"], 1);
}

TEST_F(PdfCraftTest, KeepsTheEditorOfflineSendsWebLinksToTheBrowserAndAsksThroughPanels)
{
    m_pdfcraft.open(std::nullopt, "");
    auto& policies = m_editor.webViews[0]->policies;
    EXPECT_TRUE(policies.downloadUnshowableResponses);
    using enum NavigationDecision;
    const std::tuple<NavigationAction, NavigationDecision> cases[] = {
        { { "https://example.com/x.pdf", true, false }, Download },
        { { "", false, false }, Cancel },
        { { "pdfcraft://app/index.html", false, false }, Allow },
        { { "blob:pdfcraft://app/1", false, true }, Allow },
        { { "data:text/plain,x", false, false }, Allow },
        { { "about:blank", false, true }, Allow },
        { { "https://example.com/help", false, false, true }, Cancel },
        { { "https://example.com/by-script?doc=passport", false, false, false }, Cancel },
        { { "https://example.com/frame", false, true, true }, Cancel },
        { { "http://example.com/", false, false, true }, Cancel },
        { { "file:///etc/passwd", false, false, true }, Cancel },
    };
    for (auto& [action, decision] : cases)
        EXPECT_EQ(policies.decideNavigation(action), decision) << action.url;
    // Only the link the user followed reaches the browser; a script's navigation goes nowhere.
    EXPECT_EQ(m_workspace.uris, std::vector<std::string> { "https://example.com/help" });
    policies.onNewWindowRequest({ .url = "http://example.com/popup", .userGesture = true });
    policies.onNewWindowRequest({ .url = "https://example.com/by-script", .userGesture = false });
    policies.onNewWindowRequest({ .url = "https://example.com/popup", .userGesture = true });
    EXPECT_EQ(m_workspace.uris, (std::vector<std::string> { "https://example.com/help", "https://example.com/popup" }));

    // A download replaces the file the user chose, starting in Documents; a cancelled one goes nowhere.
    writeText(documents() / "edited.pdf", "old");
    std::optional<std::optional<fs::path>> destination;
    const auto choose = [&](const char* name) { policies.chooseDownloadDestination(name, [&](auto path) { destination = path; }); };
    choose("edited.pdf");
    EXPECT_EQ(m_panels.saveStartFolder, documents().string());
    m_panels.answer((documents() / "edited.pdf").string());
    EXPECT_EQ(destination, std::optional<fs::path>(documents() / "edited.pdf"));
    EXPECT_FALSE(fs::exists(documents() / "edited.pdf"));
    choose("x.pdf");
    m_panels.answer(std::nullopt);
    ASSERT_TRUE(destination);
    EXPECT_FALSE(*destination);

    for (auto [button, expected] : { std::pair<std::optional<size_t>, bool> { 0, true }, { 1, false }, { std::nullopt, false } }) {
        std::optional<bool> confirmed;
        policies.confirm("Delete page?", [&](bool yes) { confirmed = yes; });
        m_panels.choose(button);
        EXPECT_EQ(confirmed, expected);
    }
}

class PdfCraftSchemeTest : public testing::Test {
protected:
    PdfCraftSchemeTest()
    {
        writeText(m_folder / "secret.txt", "outside");
        writeText(site() / "index.html", "<html>editor</html>");
        writeText(site() / "lib" / "app.WASM", "wasm");
        writeText(site() / "lib" / "app.js", "var a;");
        writeText(site() / "data.json", "{}");
        fs::create_directories(site() / "sub");
        fs::create_symlink(m_folder / "secret.txt", site() / "link-out.txt");
        fs::create_symlink(site() / "lib" / "app.js", site() / "alias.js");
        fs::create_directory_symlink(site() / "lib", site() / "shared");
        fs::create_directory_symlink(m_folder.path(), site() / "up");
        m_docs["0123456789abcdef0123456789abcdef"] = "%PDF-1.7 body";
    }

    fs::path site() const { return m_folder / "site"; }

    // The type and body served, or the status and body of a refusal; the policy goes on HTML only.
    std::string served(const std::string& url)
    {
        auto response = m_scheme.answer(url);
        if (!response)
            return "no answer";
        if (response->status != 200) {
            EXPECT_FALSE(response->bodyFile) << url;
            return std::to_string(response->status) + " " + response->body;
        }
        const std::string body = bodyOf(*response);
        EXPECT_EQ(response->headers["Content-Length"], std::to_string(body.size())) << url;
        const bool html = response->contentType == "text/html";
        EXPECT_EQ(response->headers.contains("Content-Security-Policy"), html) << url;
        EXPECT_EQ(response->headers["Content-Security-Policy"], html ? PdfCraftScheme::contentSecurityPolicy : "") << url;
        return response->contentType + " " + body;
    }

    TemporaryFolder m_folder { "quillpost-pdfcraft-scheme" };
    PdfCraftScheme::Registry m_docs;
    PdfCraftScheme m_scheme { [this] { return site(); }, m_docs };
};

TEST_F(PdfCraftSchemeTest, ServesSiteFilesAndDocumentsByTypeAndNothingOutsideTheSite)
{
    const std::string html = "text/html <html>editor</html>", js = "text/javascript var a;", missing = "404 not found";
    const std::string doc = "pdfcraft://app/doc/0123456789abcdef0123456789abcdef/", pdf = "application/pdf %PDF-1.7 body";
    const std::pair<std::string, std::string> cases[] = {
        { "pdfcraft://app/", html },
        { "pdfcraft://app", html },
        { "pdfcraft://app/index.html?file=x#top", html },
        { "pdfcraft://other//index.html", html },
        { "pdfcraft://app/lib/app.WASM", "application/wasm wasm" },
        { "pdfcraft://app/lib/app.js", js },
        { "pdfcraft://app/alias.js", js },
        { "pdfcraft://app/%6Cib/app.js", js },
        { "pdfcraft://app/shared/app.js", js },
        { "pdfcraft://app/data.json", "application/octet-stream {}" },
        { doc + "a.pdf", pdf },
        { doc + "other%20name.pdf", pdf },
        { doc, pdf },
        { "pdfcraft://app/doc/ffffffffffffffffffffffffffffffff/a.pdf", "404 gone" },
        // Not the document form, so looked up as site files.
        { "pdfcraft://app/doc/0123456789ABCDEF0123456789abcdef/a.pdf", missing },
        { "pdfcraft://app/doc/0123456789abcdef0123456789abcde/a.pdf", missing },
        { "pdfcraft://app/doc/", missing },
        { "pdfcraft://app/sub/", missing },
        { "pdfcraft://app/missing.js", missing },
        { "pdfcraft://app/../secret.txt", missing },
        { "pdfcraft://app/%2E%2E/secret.txt", missing },
        { "pdfcraft://app/%252E%252E/secret.txt", missing },
        { "pdfcraft://app/lib%2F..%2F..%2Fsecret.txt", missing },
        { "pdfcraft://app/lib/../../site/../secret.txt", missing },
        { "pdfcraft://app/%00index.html", missing },
        { "pdfcraft://app/link-out.txt", missing },
        { "pdfcraft://app/up/secret.txt", missing },
        { "pdfcraft://app/shared/../../secret.txt", missing },
        { "", "no answer" },
    };
    for (auto& [url, expected] : cases)
        EXPECT_EQ(served(url), expected) << url;
    EXPECT_FALSE(PdfCraft::allInside(site())) << "the site holds links";

    // An install that puts a new folder where the site was is served from the new folder.
    fs::rename(site(), m_folder / "old-site");
    writeText(site() / "index.html", "<html>new</html>");
    EXPECT_EQ(served("pdfcraft://app/index.html"), "text/html <html>new</html>");
    EXPECT_EQ(served("pdfcraft://app/lib/app.js"), missing);
    EXPECT_TRUE(PdfCraft::allInside(site()));
    fs::remove_all(site());
    EXPECT_EQ(served("pdfcraft://app/index.html"), missing);
    EXPECT_FALSE(PdfCraft::allInside(site()));

    // The handler fails a request without a usable address rather than answering it.
    std::optional<SchemeResponse> response { SchemeResponse {} };
    std::string error;
    PdfCraftScheme::handler([this] { return site(); }, m_docs)({ "", "GET", {} }, [&](auto answer, std::string message) {
        response = std::move(answer);
        error = std::move(message);
    });
    EXPECT_FALSE(response);
    EXPECT_FALSE(error.empty());
}

TEST(PdfCraftCommandTest, OpensTheEditorWithTheDocumentThePageSent)
{
    CommandHarness harness;
    const Json pdf { base64Encode("%PDF-1.7"), "a.pdf" };
    EXPECT_EQ(harness.send("hasPdfCraft")->json(), false);
    EXPECT_EQ(harness.send("openPdfCraft", pdf)->json(), false);
    writeText(harness.path("pdfcraft-site/index.html"), "<html></html>");
    EXPECT_EQ(harness.send("hasPdfCraft")->json(), true);
    // Text that isn't Base64, or none, opens the editor without a document.
    for (const Json& args : { pdf, Json { "not base64!", "b.pdf" }, Json::array() })
        EXPECT_EQ(harness.send("openPdfCraft", args)->json(), true) << args.dump();
    ASSERT_EQ(harness.pdfcraft().docs().size(), 1u);
    EXPECT_EQ(harness.pdfcraft().docs().begin()->second, "%PDF-1.7");
    EXPECT_EQ(harness.send("pdfcraftInfo")->json()["open"], 3);
}

}
}
