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
#include "doubles/FakeWebView.h"
#include "doubles/SchemeBody.h"
#include "doubles/TemporaryFolder.h"
#include "platform/Notifications.h"
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

// The argument a script hands the page's hook, read as the page's JavaScript would read it; the
// hook is called only when the page defines it.
Json hookArgument(const std::string& script, const std::string& hook)
{
    const std::string call = "window." + hook + " && window." + hook + "(";
    const auto from = script.find(call);
    EXPECT_NE(from, std::string::npos) << script;
    std::istringstream rest(script.substr(from + call.size()));
    Json argument;
    rest >> argument;
    return argument;
}

// Order, letter case, hostile text and other schemes are checked on the real program; here, what
// only the router itself shows.
TEST(Links, WaitForThePageThenArriveOnceAsValidText)
{
    std::vector<Json> delivered;
    LinkRouter router([&](const std::string& script) { delivered.push_back(hookArgument(script, "__qpLink")); });
    router.open({ "quillpost://client/1", "https://example.com/", "quillpost://bad/\xff\xfe" });
    EXPECT_TRUE(delivered.empty()) << "nothing reaches a page that hasn't loaded";
    router.pageLoaded();
    router.pageLoaded();
    EXPECT_EQ(delivered, (std::vector<Json> { "quillpost://client/1", "quillpost://bad/\xef\xbf\xbd\xef\xbf\xbd" }));
    EXPECT_TRUE(router.pending().empty());

    for (const char* link : { "quillpost:", "quillpost://client/1", "QUILLPOST:x", "qUiLlPoSt://a%20b" })
        EXPECT_TRUE(LinkRouter::isQuillpostLink(link)) << link;
    for (const char* text : { "", "quillpost", ":quillpost", "quillpost //x", "quillpost://a b", "quillpost://a\nb",
             " quillpost://a", "1quillpost://a", "quill post:a", "quillpost\x7f:", "https://quillpost/", "/quillpost:a", "quillpos:a" })
        EXPECT_FALSE(LinkRouter::isQuillpostLink(text)) << text;
    EXPECT_EQ(LinkRouter::scheme("web+Mail.x-y:1"), "web+Mail.x-y");
    EXPECT_FALSE(LinkRouter::isQuillpostLink("quillpost://" + std::string(LinkRouter::maximumLength, 'a')));
}

// Keeps what would have been shown; onClick plays the user clicking one.
struct FakeNotifications final : Notifications {
    struct Shown {
        std::string id, title, body;
    };
    void show(const std::string& id, const std::string& title, const std::string& body) override { shown.push_back({ id, title, body }); }
    void setOnClick(std::function<void(const std::string&)> callback) override { onClick = std::move(callback); }
    std::vector<Shown> shown;
    std::function<void(const std::string&)> onClick;
};

TEST(Notifications, HooksCarryTheirTextShownAsValidTextAndRecordedInASelfTest)
{
    EXPECT_EQ(hookArgument(PageHooks::menuCommand("go:\"x\\"), "__qpMenu"), "go:\"x\\");
    EXPECT_EQ(hookArgument(PageHooks::notificationClick("17\"');x\\"), "__qpNotifyClick"), "17\"');x\\");
    EXPECT_EQ(PageHooks::notificationClick("printed:"), "location.hash = '#/pdf/formcopy'");
    EXPECT_EQ(PageHooks::printedNotification(Json { { "name", "IMM 5257.pdf" } }).id, "printed:IMM 5257.pdf");
    for (auto& unnamed : { Json::object(), Json { { "name", 5 } }, Json("x") })
        EXPECT_EQ(PageHooks::printedNotification(unnamed).id, "printed:") << unnamed;

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
        EXPECT_EQ(harness.send("simulateOpenURL", Json::array({ "quillpost://file/7" }))->result.has_value(), selfTest);
        EXPECT_EQ(harness.send("simulateScreenSleep")->result.has_value(), selfTest);
    }
    EXPECT_EQ(shell.opened, std::vector<std::string> { "quillpost://file/7" });
    EXPECT_EQ(shell.sleeps, 1);
}

TEST(Menus, KeysAreUniqueAndTheDesktopFilesQuicklistIsTheQuicklistTable)
{
    std::set<std::string> keys;
    for (auto& menu : mainMenu()) {
        for (auto& item : menu.items)
            EXPECT_TRUE(item.accelerator.empty() || keys.insert(item.accelerator).second) << item.accelerator;
    }

    std::ifstream file(QUILLPOST_SOURCE_DIR "/packaging/org.quillpost.Quillpost.desktop");
    ASSERT_TRUE(file);
    std::map<std::string, std::string> entries; // "group/key" to value
    std::string group;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with("["))
            group = line.substr(1, line.size() - 2);
        else if (auto equals = line.find('='); equals != std::string::npos)
            entries[group + "/" + line.substr(0, equals)] = line.substr(equals + 1);
    }
    EXPECT_NE(entries["Desktop Entry/MimeType"].find("x-scheme-handler/quillpost;"), std::string::npos);
    EXPECT_EQ(entries["Desktop Entry/Exec"], "quillpost %U");
    std::vector<std::pair<std::string, std::string>> fromTable, fromFile;
    for (auto& item : quicklist())
        if (item.kind == MenuItem::Kind::Command)
            fromTable.push_back({ item.title, "quillpost --menu-command=" + item.target });
    std::stringstream actions(entries["Desktop Entry/Actions"]);
    for (std::string action; std::getline(actions, action, ';');)
        fromFile.push_back({ entries["Desktop Action " + action + "/Name"], entries["Desktop Action " + action + "/Exec"] });
    EXPECT_EQ(fromFile, fromTable);
}

TEST(MainViewPolicies, WebLinksLeaveThePageStaysDownloadsAskAndEachEndsAsARecord)
{
    FakeWorkspace workspace;
    FakePanels panels;
    auto window = std::make_shared<FakeWindow>();
    auto policies = mainViewPolicies(workspace, panels, window);
    const auto decide = [&](const char* url) { return policies.decideNavigation({ .url = url, .userGesture = true }); };
    for (const char* leaves : { "https://ircc.canada.ca/x", "mailto:a@b.c" })
        EXPECT_EQ(decide(leaves), NavigationDecision::Cancel) << leaves;
    // The page stays on its own origin; nothing else ever replaces it, whoever asks.
    for (const char* stays : { "quillpost-app://app/index.html#/clients", "QUILLPOST-APP://APP/index.html", "blob:quillpost-app://app/5f1c" })
        EXPECT_EQ(decide(stays), NavigationDecision::Allow) << stays;
    for (const char* refused : { "file:///home/a/form.html", "data:text/html,x", "about:blank", "quillpost-app://app.evil/index.html",
             "quillpost-app://user@app/", "quillpost-bytes://bytes/00", "javascript:alert(1)", "" })
        EXPECT_EQ(decide(refused), NavigationDecision::Cancel) << refused;
    EXPECT_EQ(policies.decideNavigation({ .url = "https://x/", .isDownload = true }), NavigationDecision::Download);
    policies.onNewWindowRequest({ .url = "https://example.com/" });
    policies.onNewWindowRequest({ .url = "#/clients" });
    EXPECT_EQ(workspace.uris, (std::vector<std::string> { "https://ircc.canada.ca/x", "mailto:a@b.c", "https://example.com/" }));

    // A page's confirm() is a question on the window; closing it is a no.
    std::optional<bool> confirmed;
    for (auto [button, expected] : std::vector<std::pair<std::optional<size_t>, bool>> { { 0, true }, { 1, false }, { {}, false } }) {
        policies.confirm("Delete?", [&](bool answer) { confirmed = answer; });
        EXPECT_EQ(panels.lastParent, window.get());
        panels.choose(button);
        EXPECT_EQ(confirmed, expected);
    }

    TemporaryFolder folder { "quillpost-download-records" };
    using Result = DownloadOutcome::Result;
    const std::string url = "blob:quillpost-app://app/1";
    const auto saved = [&](const fs::path& path, bool inDownloads) {
        return Json { { "url", url }, { "result", "saved" }, { "name", path.filename().string() },
            { "folder", path.parent_path().string() }, { "inDownloads", inDownloads }, { "size", 5 } };
    };
    const std::tuple<DownloadOutcome, std::optional<fs::path>, Json> cases[] = {
        { { url, Result::Saved, folder / "Invoice.pdf", 5, "" }, folder.path(), saved(folder / "Invoice.pdf", true) },
        { { url, Result::Saved, folder / "Clients" / "a.csv", 5, "" }, folder.path(), saved(folder / "Clients" / "a.csv", false) },
        { { url, Result::Saved, folder / "a.csv", 5, "" }, std::nullopt, saved(folder / "a.csv", false) },
        { { url, Result::Cancelled, {}, 0, "cancelled by the user" }, folder.path(), { { "url", url }, { "result", "cancelled" } } },
        { { url, Result::Failed, {}, 0, "No space left on device" }, folder.path(),
            { { "url", url }, { "result", "failed" }, { "message", "No space left on device" } } },
    };
    fs::create_directories(folder / "Clients");
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
    const auto get = [&](const char* url) { return scheme.answer({ url, "GET", {} }); };

    for (const char* url : { "quillpost-app://app/", "quillpost-app://app/index.html#/clients", "QUILLPOST-APP://APP/index.html" }) {
        auto response = get(url);
        EXPECT_EQ(response.status, 200) << url;
        EXPECT_EQ(response.headers["Content-Security-Policy"], AppScheme::contentSecurityPolicy) << url;
        EXPECT_EQ(bodyOf(response), "<html>page</html>") << url;
    }
    EXPECT_EQ(get("quillpost-app://app/js/main.js").contentType, "text/javascript");

    // Nothing outside the page's folder, from another host, or by another method.
    for (const char* url : { "quillpost-app://app/../data.json", "quillpost-app://app/%2e%2e/data.json", "quillpost-app://app/js/data.js",
             "quillpost-app://app.evil/index.html", "quillpost-app://other/index.html" }) {
        auto response = get(url);
        EXPECT_EQ(response.status, 404) << url;
        EXPECT_EQ(bodyOf(response).find("clients"), std::string::npos) << url;
    }
    EXPECT_EQ(scheme.answer({ "quillpost-app://app/index.html", "POST", "x" }).status, 404);

    // Without its page the window says so, in a page that runs no script.
    fs::remove(page / "index.html");
    auto missing = get("quillpost-app://app/index.html");
    EXPECT_EQ(missing.status, 200);
    EXPECT_NE(missing.body.find("can't find its screens"), std::string::npos);
    EXPECT_EQ(missing.headers["Content-Security-Policy"].find("script"), std::string::npos);

    // The shipped page carries the same policy in its head; a meta policy can't name frame ancestors.
    auto index = readFile(fs::path(QUILLPOST_SOURCE_DIR) / "resources" / "app" / "index.html");
    ASSERT_TRUE(index);
    std::string expected(AppScheme::contentSecurityPolicy);
    expected.erase(expected.find("; frame-ancestors"));
    EXPECT_NE(index->find("<meta http-equiv=\"Content-Security-Policy\" content=\"" + expected + "\">"), std::string::npos);
    EXPECT_EQ(index->find("<script>"), std::string::npos);
    EXPECT_EQ(index->find("unsafe-"), std::string::npos);
}

TEST(InstanceIdentity, EachDataFolderIsItsOwnInstanceAndTheSelfTestNeverHandsOver)
{
    // GApplication's rule: two or more dot-separated elements of letters, digits, '_' and '-',
    // none starting with a digit, at most 255 characters.
    static const std::regex validId("[A-Za-z_-][A-Za-z0-9_-]*(\\.[A-Za-z_-][A-Za-z0-9_-]*)+");
    TemporaryFolder home;
    fs::path user = home / ".local/share/Quillpost";
    fs::create_directories(user);
    fs::create_directories(home / "other");
    fs::create_symlink(user, home / "link-to-user");

    // name, data folder, self-test, the user's own identifier, unique
    const std::tuple<const char*, fs::path, bool, bool, bool> cases[] = {
        { "the user's copy", user, false, true, true },
        { "the user's folder with a trailing separator", fs::path(user.string() + "/"), false, true, true },
        { "the user's folder reached through a link", home / "link-to-user", false, true, true },
        { "another data folder", home / "other", false, false, true },
        { "the same folder with a trailing separator", home / "other/", false, false, true },
        { "a folder that doesn't exist yet", home / "not-yet", false, false, true },
        { "the self-test on its own folder", home / "other", true, false, false },
        { "the self-test on the user's folder", user, true, true, false },
    };
    std::set<std::string> otherIds;
    for (const auto& [name, folder, selfTest, sameAsUsers, unique] : cases) {
        SCOPED_TRACE(name);
        auto identity = instanceIdentity({ .dataFolder = folder, .defaultDataFolder = user, .selfTest = selfTest });
        EXPECT_TRUE(identity.applicationId.size() <= 255 && std::regex_match(identity.applicationId, validId));
        EXPECT_EQ(identity.applicationId == baseApplicationId, sameAsUsers) << identity.applicationId;
        EXPECT_EQ(identity.unique, unique);
        if (!sameAsUsers)
            otherIds.insert(identity.applicationId);
    }
    // One other folder, however spelt and whether or not a self-test, gives one identifier, so
    // its own second launch still hands over; two other folders give two.
    EXPECT_EQ(otherIds.size(), 2u);
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
    const std::string deep = R"({"QuillpostMain": {"width": 900, "height": 700}, "Other": )" + std::string(depth, '[')
        + std::string(depth, ']') + "}";
    const std::string damaged[] = { "not json", "[1,2]", R"({"QuillpostMain": "big"})", R"({"QuillpostMain": {"width": -5, "height": 700}})",
        R"({"QuillpostMain": {"width": 99999999, "height": 700}})", R"({"QuillpostMain": {"width": 1.5, "height": 700}})", deep };
    for (const std::string& text : damaged) {
        writeText(file, text);
        EXPECT_FALSE(WindowState(file).geometry("QuillpostMain")) << text.substr(0, 80);
    }
    // Saving over a damaged file starts it afresh instead of failing.
    WindowState(file).save("QuillpostMain", { 1000, 700, false });
    EXPECT_EQ(WindowState(file).geometry("QuillpostMain")->width, 1000);
    EXPECT_LT(readText(file).size(), 1000u);

    const std::tuple<const char*, bool, bool> sides[] = {
        { "icon:minimize,maximize,close", true, true }, { "appmenu:minimize,maximize,close", false, true }, { ":close", false, true },
        { "close,minimize,maximize:", true, false }, { "close:", true, false }, { "close", true, false }, { "close:close", true, true },
        { "", false, false }, { ":", false, false }, { "closer,maximized:iconic", false, false }, { "spacer,close:menu", true, false },
    };
    for (auto [layout, start, end] : sides)
        EXPECT_EQ(std::pair(windowButtonSidesOf(layout).start, windowButtonSidesOf(layout).end), std::pair(start, end)) << layout;
}

}
}
