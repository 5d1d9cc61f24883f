#include "app/AppScheme.h"
#include "app/InstanceIdentity.h"
#include "app/LinkRouter.h"
#include "app/MainViewPolicies.h"
#include "app/MenuTable.h"
#include "app/PageHooks.h"
#include "app/WindowState.h"
#include "bridge/ShellCommands.h"
#include "common/Files.h"
#include "doubles/CommandHarness.h"
#include "doubles/DesktopDoubles.h"
#include "doubles/FakeNotifications.h"
#include "doubles/FakeWebView.h"
#include "doubles/SchemeBody.h"
#include "doubles/TemporaryFolder.h"
#include "platform/WindowButtonSides.h"
#include "updates/Notifier.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The argument a hook script passes, read back the way the page's JavaScript would read it.
Json hookArgument(const std::string& script, const std::string& hook)
{
    std::string prefix = "window." + hook + " && window." + hook + "(";
    EXPECT_TRUE(script.starts_with(prefix) && script.ends_with(")")) << script;
    return Json::parse(script.substr(prefix.size(), script.size() - prefix.size() - 1));
}

// The link a delivery passes, from inside the wait for the page's load.
Json linkArgument(const std::string& script)
{
    const std::string start = "window.__qpLink && window.__qpLink(";
    const auto from = script.find(start) + start.size();
    return Json::parse(script.substr(from, script.find(") };", from) - from));
}

// Order, letter case, hostile text and other schemes are checked on the real program; here, what
// only the router itself shows.
TEST(Links, WaitForThePageThenArriveOnceAsValidText)
{
    std::vector<Json> delivered;
    LinkRouter router([&](const std::string& script) { delivered.push_back(linkArgument(script)); });
    router.open({ "quillpost://client/1", "https://example.com/", "quillpost://bad/\xff\xfe" });
    EXPECT_TRUE(delivered.empty()) << "nothing reaches a page that hasn't loaded";
    router.pageLoaded();
    EXPECT_EQ(delivered, (std::vector<Json> { "quillpost://client/1", "quillpost://bad/\xef\xbf\xbd\xef\xbf\xbd" }));
    EXPECT_TRUE(router.pending().empty());
    router.open({ "quillpost://client/4" });
    EXPECT_EQ(delivered.size(), 3u) << "after the load a link goes straight through";
    router.pageLoaded();
    EXPECT_EQ(delivered.size(), 3u) << "a reload does not repeat links";
}

TEST(Links, OnlyTextsThatFormAQuillpostUrlAreLinks)
{
    for (const char* link : { "quillpost:", "quillpost://client/1", "QUILLPOST:x", "qUiLlPoSt://a%20b" })
        EXPECT_TRUE(LinkRouter::isQuillpostLink(link)) << link;
    for (const char* text : { "", "quillpost", ":quillpost", "quillpost //x", "quillpost://a b", "quillpost://a\nb", " quillpost://a",
             "1quillpost://a", "quill post:a", "quillpost\x7f:", "https://quillpost/", "/quillpost:a", "quillpos:a" })
        EXPECT_FALSE(LinkRouter::isQuillpostLink(text)) << text;
    EXPECT_EQ(LinkRouter::scheme("web+Mail.x-y:1"), "web+Mail.x-y");
    EXPECT_FALSE(LinkRouter::isQuillpostLink("quillpost://" + std::string(LinkRouter::maximumLength, 'a')));
}

TEST(Notifications, HooksCarryTheirTextAsAStringAndPrintedOnesOpenTheFormCopy)
{
    EXPECT_EQ(hookArgument(PageHooks::menuCommand("go:\"x\\"), "__qpMenu"), "go:\"x\\");
    EXPECT_EQ(hookArgument(PageHooks::notificationClick("17\"');x\\"), "__qpNotifyClick"), "17\"');x\\");
    EXPECT_EQ(hookArgument(PageHooks::notificationClick(""), "__qpNotifyClick"), "");
    EXPECT_EQ(PageHooks::notificationClick("printed:Form.pdf"), "location.hash = '#/pdf/formcopy'");
    EXPECT_EQ(PageHooks::notificationClick("printed:"), "location.hash = '#/pdf/formcopy'");

    EXPECT_EQ(PageHooks::printedNotification(Json { { "name", "IMM 5257.pdf" }, { "size", 10 } }).id, "printed:IMM 5257.pdf");
    for (auto& unnamed : { Json::object(), Json { { "name", 5 } }, Json("x") })
        EXPECT_EQ(PageHooks::printedNotification(unnamed).id, "printed:") << unnamed;
}

TEST(Notifications, ShownOrRecordedAndClicksComeBack)
{
    FakeNotifications desktop;
    Notifier shown(desktop, Notifier::Mode::Show);
    std::vector<std::string> clicked;
    shown.onClick = [&](const std::string& id) { clicked.push_back(id); };
    shown.post("printed:\xff.pdf", "T", "\xff.pdf is in Quillpost.");
    ASSERT_EQ(desktop.shown.size(), 1u);
    EXPECT_FALSE(shown.recorded());
    EXPECT_EQ(desktop.shown[0].id, "printed:\xef\xbf\xbd.pdf") << "the desktop gets valid UTF-8";
    EXPECT_EQ(desktop.shown[0].body, "\xef\xbf\xbd.pdf is in Quillpost.");
    desktop.onClick("a");
    EXPECT_EQ(clicked, std::vector<std::string> { "a" });

    FakeNotifications quiet;
    Notifier recording(quiet, Notifier::Mode::Record);
    CommandHarness harness(true, [&](Bridge::Services& services) { services.notifier = &recording; });
    EXPECT_EQ(harness.send("notify", Json::array({ "n1", 42, "Body" }))->result, "true");
    EXPECT_TRUE(quiet.shown.empty()) << "a self-test run shows nothing";
    ASSERT_EQ(recording.recorded()->size(), 1u);
    EXPECT_EQ(recording.recorded()->at(0).id, "n1");
    EXPECT_EQ(recording.recorded()->at(0).title, "") << "a title that isn't a string reads as empty";
    EXPECT_TRUE(CommandHarness().send("notify")->error) << "a window without notifications";
}

struct RecordingShell final : ShellEvents {
    void openUrls(const std::vector<std::string>& urls) override { opened.insert(opened.end(), urls.begin(), urls.end()); }
    void screensDidSleep() override { ++sleeps; }
    std::vector<std::string> opened;
    int sleeps { 0 };
};

TEST(ShellCommands, SimulatedDesktopEventsExistOnlyInASelfTestRun)
{
    RecordingShell shell;
    for (bool selfTest : { false, true }) {
        CommandHarness harness(true, [&](Bridge::Services& services) {
            services.shell = &shell;
            services.selfTest = selfTest;
        });
        auto opened = harness.send("simulateOpenURL", Json::array({ "quillpost://file/7" }));
        auto slept = harness.send("simulateScreenSleep");
        EXPECT_EQ(opened->result.has_value(), selfTest);
        EXPECT_EQ(slept->result.has_value(), selfTest);
    }
    EXPECT_EQ(shell.opened, std::vector<std::string> { "quillpost://file/7" });
    EXPECT_EQ(shell.sleeps, 1);
}

TEST(Menus, KeysAreUniqueAndCtrlDigitsFollowTheSidebar)
{
    std::set<std::string> keys;
    std::map<std::string, std::string> keyOf;
    for (auto& menu : mainMenu()) {
        for (auto& item : menu.items) {
            if (!item.accelerator.empty()) {
                EXPECT_TRUE(keys.insert(item.accelerator).second) << "one key, one item: " << item.accelerator;
            }
            keyOf[item.target] = item.accelerator;
        }
    }
    const char* screens[] = { "go:dashboard", "go:clients", "go:files", "go:deadlines", "go:calendar", "go:pdf", "go:billing" };
    for (int index = 0; index < 7; ++index)
        EXPECT_EQ(keyOf[screens[index]], "<Control>" + std::to_string(index + 1)) << screens[index];
}

TEST(Menus, TheDesktopFilesQuicklistIsTheQuicklistTable)
{
    std::ifstream file(QUILLPOST_SOURCE_DIR "/packaging/org.quillpost.Quillpost.desktop");
    ASSERT_TRUE(file);
    std::map<std::string, std::map<std::string, std::string>> groups;
    std::string line, group;
    while (std::getline(file, line)) {
        if (line.starts_with("["))
            group = line.substr(1, line.size() - 2);
        else if (auto equals = line.find('='); equals != std::string::npos)
            groups[group][line.substr(0, equals)] = line.substr(equals + 1);
    }
    EXPECT_NE(groups["Desktop Entry"]["MimeType"].find("x-scheme-handler/quillpost;"), std::string::npos);
    EXPECT_EQ(groups["Desktop Entry"]["Exec"], "quillpost %U");
    std::vector<std::pair<std::string, std::string>> fromTable, fromFile;
    for (auto& item : quicklist())
        if (item.kind == MenuItem::Kind::Command)
            fromTable.push_back({ item.title, "quillpost --menu-command=" + item.target });
    std::stringstream actions(groups["Desktop Entry"]["Actions"]);
    for (std::string action; std::getline(actions, action, ';');)
        fromFile.push_back({ groups["Desktop Action " + action]["Name"], groups["Desktop Action " + action]["Exec"] });
    EXPECT_EQ(fromFile, fromTable);
}

TEST(MainViewPolicies, WebLinksLeaveThePageStaysAndDownloadsAsk)
{
    FakeWorkspace workspace;
    FakePanels panels;
    auto window = std::make_shared<FakeWindow>();
    auto policies = mainViewPolicies(workspace, panels, window);

    for (const char* leaves : { "https://ircc.canada.ca/x", "mailto:a@b.c" })
        EXPECT_EQ(policies.decideNavigation({ .url = leaves }), NavigationDecision::Cancel) << leaves;
    // The page stays on its own origin; nothing else ever replaces it, whoever asks.
    for (const char* stays : { "quillpost-app://app/index.html#/clients", "QUILLPOST-APP://APP/index.html", "blob:quillpost-app://app/5f1c" })
        EXPECT_EQ(policies.decideNavigation({ .url = stays }), NavigationDecision::Allow) << stays;
    for (const char* refused : { "file:///home/a/form.html", "data:text/html,x", "about:blank", "quillpost-app://app.evil/index.html",
             "quillpost-app://user@app/", "quillpost-bytes://bytes/00", "javascript:alert(1)", "" })
        EXPECT_EQ(policies.decideNavigation({ .url = refused, .userGesture = true }), NavigationDecision::Cancel) << refused;
    EXPECT_EQ(policies.decideNavigation({ .url = "https://x/", .isDownload = true }), NavigationDecision::Download);
    policies.onNewWindowRequest({ .url = "https://example.com/" });
    policies.onNewWindowRequest({ .url = "#/clients" });
    EXPECT_EQ(workspace.uris, (std::vector<std::string> { "https://ircc.canada.ca/x", "mailto:a@b.c", "https://example.com/" }));

    // A page's confirm() is a question on the window; closing it is a no.
    std::optional<bool> confirmed;
    for (auto [button, expected] : std::vector<std::pair<std::optional<size_t>, bool>> { { 0, true }, { 1, false }, { std::nullopt, false } }) {
        policies.confirm("Delete?", [&](bool answer) { confirmed = answer; });
        EXPECT_EQ(panels.lastParent, window.get());
        panels.choose(button);
        EXPECT_EQ(confirmed, expected);
    }
}

TEST(MainViewPolicies, TheEndOfEachDownloadReachesThePageAsARecord)
{
    TemporaryFolder folder { "quillpost-download-records" };
    std::filesystem::create_directories(folder / "Clients");
    using Result = DownloadOutcome::Result;
    const std::string url = "blob:quillpost-app://app/1";
    const auto saved = [&](const std::filesystem::path& path, bool inDownloads) {
        return Json { { "url", url }, { "result", "saved" }, { "name", path.filename().string() }, { "folder", path.parent_path().string() },
            { "inDownloads", inDownloads }, { "size", 5 } };
    };
    const std::tuple<DownloadOutcome, std::optional<std::filesystem::path>, Json> cases[] = {
        { { url, Result::Saved, folder / "Invoice.pdf", 5, "" }, folder.path(), saved(folder / "Invoice.pdf", true) },
        { { url, Result::Saved, folder / "Clients" / "a.csv", 5, "" }, folder.path(), saved(folder / "Clients" / "a.csv", false) },
        { { url, Result::Saved, folder / "a.csv", 5, "" }, std::nullopt, saved(folder / "a.csv", false) },
        { { url, Result::Cancelled, {}, 0, "cancelled by the user" }, folder.path(), { { "url", url }, { "result", "cancelled" } } },
        { { url, Result::Failed, {}, 0, "No space left on device" }, folder.path(),
            { { "url", url }, { "result", "failed" }, { "message", "No space left on device" } } },
    };
    for (const auto& [outcome, downloads, expected] : cases)
        EXPECT_EQ(downloadRecord(outcome, downloads), expected) << expected.dump();
}

TEST(AppSchemeTest, ServesOnlyThePagesOwnFilesUnderItsPolicy)
{
    TemporaryFolder folder { "quillpost-app-scheme" };
    auto page = folder / "app";
    writeText(page / "index.html", "<html>page</html>");
    writeText(page / "js" / "main.js", "export {}");
    writeText(folder / "data.json", "{\"clients\":[]}");
    fs::create_symlink(folder / "data.json", page / "js" / "data.js");
    AppScheme scheme([&] { return page; });

    for (const char* url : { "quillpost-app://app/", "quillpost-app://app/index.html#/clients", "QUILLPOST-APP://APP/index.html" }) {
        auto response = scheme.answer({ url, "GET", {} });
        EXPECT_EQ(response.status, 200) << url;
        EXPECT_EQ(response.headers["Content-Security-Policy"], AppScheme::contentSecurityPolicy) << url;
        EXPECT_EQ(bodyOf(response), "<html>page</html>") << url;
    }
    EXPECT_EQ(scheme.answer({ "quillpost-app://app/js/main.js", "GET", {} }).contentType, "text/javascript");

    // Nothing outside the page's folder, from another host, or by another method.
    for (const char* url : { "quillpost-app://app/../data.json", "quillpost-app://app/%2e%2e/data.json", "quillpost-app://app/js/data.js",
             "quillpost-app://app.evil/index.html", "quillpost-app://other/index.html" }) {
        auto response = scheme.answer({ url, "GET", {} });
        EXPECT_EQ(response.status, 404) << url;
        EXPECT_EQ(bodyOf(response).find("clients"), std::string::npos) << url;
    }
    EXPECT_EQ(scheme.answer({ "quillpost-app://app/index.html", "POST", "x" }).status, 404);

    // Without its page the window says so, in a page that runs no script.
    fs::remove(page / "index.html");
    auto missing = scheme.answer({ "quillpost-app://app/index.html", "GET", {} });
    EXPECT_EQ(missing.status, 200);
    EXPECT_NE(missing.body.find("can't find its screens"), std::string::npos);
    EXPECT_EQ(missing.headers["Content-Security-Policy"].find("script"), std::string::npos);
}

TEST(AppSchemeTest, TheShippedPageCarriesTheSamePolicyInItsHead)
{
    auto index = readFile(fs::path(QUILLPOST_SOURCE_DIR) / "resources" / "app" / "index.html");
    ASSERT_TRUE(index);
    // A meta policy can't name frame ancestors; everything else is the header's.
    std::string expected(AppScheme::contentSecurityPolicy);
    expected.erase(expected.find("; frame-ancestors"));
    EXPECT_NE(index->find("<meta http-equiv=\"Content-Security-Policy\" content=\"" + expected + "\">"), std::string::npos);
    EXPECT_EQ(index->find("<script>"), std::string::npos);
    EXPECT_EQ(index->find("unsafe-"), std::string::npos);
}

// GApplication's rule for identifiers: dot-separated elements of letters, digits, '_' and '-',
// none starting with a digit, at least two, at most 255 characters.
bool validApplicationId(const std::string& id)
{
    static const std::regex rule("[A-Za-z_-][A-Za-z0-9_-]*(\\.[A-Za-z_-][A-Za-z0-9_-]*)+");
    return id.size() <= 255 && std::regex_match(id, rule);
}

TEST(InstanceIdentity, EachDataFolderIsItsOwnInstanceAndTheSelfTestNeverHandsOver)
{
    TemporaryFolder home;
    fs::path user = home.path() / ".local/share/Quillpost";
    fs::create_directories(user);
    fs::create_directories(home.path() / "other");
    fs::create_symlink(user, home.path() / "link-to-user");

    // name, data folder, self-test, the user's own identifier, unique
    const std::tuple<const char*, fs::path, bool, bool, bool> cases[] = {
        { "the user's copy", user, false, true, true },
        { "the user's folder spelt with a trailing separator", fs::path(user.string() + "/"), false, true, true },
        { "the user's folder reached through a link", home.path() / "link-to-user", false, true, true },
        { "another data folder", home.path() / "other", false, false, true },
        { "a folder that doesn't exist yet", home.path() / "not-yet", false, false, true },
        { "the self-test on its own folder", home.path() / "other", true, false, false },
        { "the self-test on the user's folder", user, true, true, false },
    };
    std::set<std::string> otherIds;
    for (const auto& [name, folder, selfTest, sameAsUsers, unique] : cases) {
        SCOPED_TRACE(name);
        auto identity = instanceIdentity({ .dataFolder = folder, .defaultDataFolder = user, .selfTest = selfTest });
        EXPECT_TRUE(validApplicationId(identity.applicationId)) << identity.applicationId;
        EXPECT_EQ(identity.applicationId == baseApplicationId, sameAsUsers) << identity.applicationId;
        EXPECT_EQ(identity.unique, unique);
        if (!sameAsUsers)
            otherIds.insert(identity.applicationId);
    }
    // The same other folder always gives the same identifier, so its own second launch still
    // hands over; two other folders give two.
    EXPECT_EQ(otherIds.size(), 2u);
    auto again = instanceIdentity({ .dataFolder = home.path() / "other", .defaultDataFolder = user });
    EXPECT_EQ(again.applicationId, instanceIdentity({ .dataFolder = home.path() / "other/", .defaultDataFolder = user }).applicationId);
    EXPECT_TRUE(otherIds.contains(again.applicationId));
}

TEST(WindowState, RemembersEachWindowByNameAndFallsBackOnDamagedImplausibleOrAbsurdlyDeepEntries)
{
    TemporaryFolder folder { "quillpost-window" };
    const auto file = folder / "state" / "window-state.json";
    EXPECT_FALSE(WindowState(file).geometry("QuillpostMain"));
    WindowState(file).save("Editor", { 800, 600, false });
    WindowState(file).save("QuillpostMain", { 1280, 720, true });
    auto main = WindowState(file).geometry("QuillpostMain");
    ASSERT_TRUE(main);
    EXPECT_EQ(std::tuple(main->width, main->height, main->maximized), std::tuple(1280, 720, true));
    EXPECT_EQ(WindowState(file).geometry("Editor")->width, 800);

    // Copying or writing a tree this deep recursed once per level and overflowed the stack, at
    // every start, until the file was removed by hand.
    constexpr size_t depth = 500000;
    const std::string deep = R"({"QuillpostMain": {"width": 900, "height": 700}, "Other": )" + std::string(depth, '[') + std::string(depth, ']') + "}";
    for (const std::string& text : { std::string("not json"), std::string("[1,2]"), std::string(R"({"QuillpostMain": "big"})"),
             std::string(R"({"QuillpostMain": {"width": -5, "height": 700}})"), std::string(R"({"QuillpostMain": {"width": 99999999, "height": 700}})"),
             std::string(R"({"QuillpostMain": {"width": 1.5, "height": 700}})"), deep }) {
        writeText(file, text);
        EXPECT_FALSE(WindowState(file).geometry("QuillpostMain")) << text.substr(0, 80);
    }
    // Saving over a damaged file starts it afresh instead of failing.
    WindowState(file).save("QuillpostMain", { 1000, 700, false });
    EXPECT_EQ(WindowState(file).geometry("QuillpostMain")->width, 1000);
    EXPECT_LT(readText(file).size(), 1000u);
}

TEST(WindowButtonSides, FollowTheDesktopsLayout)
{
    const std::tuple<const char*, bool, bool> cases[] = {
        { "icon:minimize,maximize,close", true, true }, { "appmenu:minimize,maximize,close", false, true }, { ":close", false, true },
        { "close,minimize,maximize:", true, false }, { "close:", true, false }, { "close", true, false }, { "close:close", true, true },
        { "", false, false }, { ":", false, false }, { "appmenu:", false, false }, { "closer,maximized:iconic", false, false },
        { "spacer,close:menu", true, false },
    };
    for (auto [layout, start, end] : cases) {
        auto sides = windowButtonSidesOf(layout);
        EXPECT_EQ(std::pair(sides.start, sides.end), std::pair(start, end)) << layout;
    }
}

}
}
