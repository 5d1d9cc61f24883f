#include "pdfcraft/PdfCraft.h"

#include "doubles/FakeHttpClient.h"
#include "doubles/PdfCraftDoubles.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/Store.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class PdfCraftWindowTest : public testing::Test {
protected:
    PdfCraftWindowTest()
    {
        writeText(m_folder / "builtin" / "index.html", "<html></html>");
        fs::create_directories(documents());
    }

    fs::path documents() const { return m_folder / "home" / "Documents"; }

    SchemeResponse fetch(size_t window, const std::string& url)
    {
        std::optional<SchemeResponse> answer;
        m_editor.configurations.at(window).schemeHandlers.at("pdfcraft")({ url, "GET", {} }, [&](std::optional<SchemeResponse> response, std::string) {
            answer = std::move(response);
        });
        return answer ? std::move(*answer) : SchemeResponse {};
    }

    TemporaryFolder m_folder { "quillpost-pdfcraft-window" };
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
        .builtInSite = m_folder / "builtin", .releasesURL = "https://api.example.test/latest",
        .log = [this](const std::string& message) { m_log.push_back(message); } } };
};

TEST_F(PdfCraftWindowTest, OpensAnOfflineWindowOnTheEditorOrNoneWithoutOne)
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

    fs::remove(m_folder / "builtin" / "index.html");
    EXPECT_FALSE(m_pdfcraft.open(std::string("%PDF"), "x.pdf"));
    EXPECT_EQ(m_editor.windows.size(), 3u);
    EXPECT_TRUE(m_pdfcraft.docs().empty());
}

TEST_F(PdfCraftWindowTest, HandsADocumentOverForTenMinutes)
{
    ASSERT_TRUE(m_pdfcraft.open(std::string("%PDF-1.7 one"), "a/b\\c.pdf"));
    ASSERT_TRUE(m_pdfcraft.open(std::string("%PDF-1.7 one"), ""));
    ASSERT_EQ(m_pdfcraft.docs().size(), 2u);
    EXPECT_EQ(m_editor.windowOptions[0].title, "a/b\\c.pdf \xE2\x80\x94 PdfCraft");

    const std::string& url = m_editor.webViews[0]->requests.at(0);
    const std::string prefix = "pdfcraft://app/index.html?file=pdfcraft%3A%2F%2Fapp%2Fdoc%2F";
    ASSERT_TRUE(url.starts_with(prefix)) << url;
    ASSERT_TRUE(url.ends_with("%2Fa%2Db%2Dc%2Epdf")) << url;
    const std::string token = url.substr(prefix.size(), 32);
    EXPECT_TRUE(m_pdfcraft.docs().contains(token));
    EXPECT_TRUE(m_editor.webViews[1]->requests.at(0).ends_with("%2Fdocument%2Epdf"));

    const std::string document = "pdfcraft://app/doc/" + token + "/a-b-c.pdf";
    EXPECT_EQ(fetch(0, document).body, "%PDF-1.7 one");
    m_clock.advance(599s);
    EXPECT_EQ(fetch(0, document).status, 200);
    m_clock.advance(1s);
    EXPECT_EQ(fetch(0, document).body, "gone");
    EXPECT_TRUE(m_pdfcraft.docs().empty());
}

// Quitting asks every editor window with unsaved changes, one after the other; a window the
// user keeps stops the round, and the windows after it aren't touched.
TEST_F(PdfCraftWindowTest, CloseBeforeQuitAsksEachChangedWindowAndStopsAtAKeptOne)
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
}

TEST_F(PdfCraftWindowTest, CloseAllCountsTheWindowsStillOpenAfterAMoment)
{
    std::optional<int> stillOpen;
    m_pdfcraft.closeAll([&](int count) { stillOpen = count; });
    m_clock.advance(799ms);
    EXPECT_FALSE(stillOpen);
    m_clock.advance(1ms);
    EXPECT_EQ(stillOpen, 0);

    m_pdfcraft.open(std::nullopt, "");
    m_pdfcraft.open(std::nullopt, "");
    m_pdfcraft.closeAll([&](int count) { stillOpen = count; });
    m_editor.webViews[0]->answerEvaluations(Json(false));
    m_editor.webViews[1]->answerEvaluations(Json(true));
    m_clock.advance(800ms);
    EXPECT_EQ(stillOpen, 1);
    EXPECT_EQ(m_pdfcraft.info()["open"], 1);
}

TEST_F(PdfCraftWindowTest, KeepsTheEditorOfflineSendsWebLinksToTheBrowserAndAsksThroughPanels)
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

}
}
