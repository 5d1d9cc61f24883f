#include "app/MainViewPolicies.h"
#include "app/MenuTable.h"
#include "doubles/DesktopDoubles.h"
#include "doubles/FakeWebView.h"
#include "doubles/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace quillpost {
namespace {

std::map<std::string, const MenuItem*> itemsByTitle(const std::vector<Menu>& menus)
{
    std::map<std::string, const MenuItem*> items;
    for (auto& menu : menus) {
        for (auto& item : menu.items) {
            if (item.kind != MenuItem::Kind::Separator)
                items[item.title] = &item;
        }
    }
    return items;
}

TEST(Menus, KeysAreUniqueAndReachTheirCommands)
{
    auto menus = mainMenu();
    std::set<std::string> keys;
    for (auto& [title, item] : itemsByTitle(menus)) {
        if (!item->accelerator.empty()) {
            EXPECT_TRUE(keys.insert(item->accelerator).second) << "one key, one item: " << item->accelerator;
        }
    }
    auto items = itemsByTitle(menus);
    // Ctrl+1 … Ctrl+7 go through the sidebar's screens in its order.
    const char* screens[] = { "go:dashboard", "go:clients", "go:files", "go:deadlines", "go:calendar", "go:pdf", "go:billing" };
    for (int index = 0; index < 7; ++index) {
        auto found = std::find_if(items.begin(), items.end(), [&](auto& entry) { return entry.second->target == screens[index]; });
        ASSERT_NE(found, items.end()) << screens[index];
        EXPECT_EQ(found->second->accelerator, "<Control>" + std::to_string(index + 1));
    }
    EXPECT_EQ(items.at("Quit Quillpost")->target, "quit");
    EXPECT_EQ(items.at("Check for Updates…")->kind, MenuItem::Kind::Action) << "goes to the updater, not to the page";
    EXPECT_EQ(items.at("Copy")->kind, MenuItem::Kind::Editing) << "the focused field keeps its own Ctrl+C";
}

TEST(Menus, TheDesktopFilesQuicklistIsTheQuicklistTable)
{
    std::ifstream file(QUILLPOST_SOURCE_DIR "/packaging/org.quillpost.Quillpost.desktop");
    ASSERT_TRUE(file) << "packaging/org.quillpost.Quillpost.desktop";
    std::map<std::string, std::map<std::string, std::string>> groups;
    std::string line, group;
    while (std::getline(file, line)) {
        if (line.starts_with("[")) {
            group = line.substr(1, line.size() - 2);
            continue;
        }
        if (auto equals = line.find('='); equals != std::string::npos)
            groups[group][line.substr(0, equals)] = line.substr(equals + 1);
    }
    auto& entry = groups["Desktop Entry"];
    EXPECT_NE(entry["MimeType"].find("x-scheme-handler/quillpost;"), std::string::npos);
    EXPECT_EQ(entry["Exec"], "quillpost %U");

    std::vector<std::pair<std::string, std::string>> fromTable;
    for (auto& item : quicklist()) {
        if (item.kind == MenuItem::Kind::Command)
            fromTable.push_back({ item.title, item.target });
    }
    std::vector<std::pair<std::string, std::string>> fromFile;
    std::stringstream actions(entry["Actions"]);
    for (std::string action; std::getline(actions, action, ';');) {
        auto& desktopAction = groups["Desktop Action " + action];
        std::string prefix = "quillpost --menu-command=";
        ASSERT_TRUE(desktopAction["Exec"].starts_with(prefix)) << action;
        fromFile.push_back({ desktopAction["Name"], desktopAction["Exec"].substr(prefix.size()) });
    }
    EXPECT_EQ(fromFile, fromTable);
    EXPECT_EQ(quicklist().size(), 6u) << "five items and a separator";
}

TEST(MainViewPolicies, WebLinksLeaveDownloadsAskAndDialogsAreOnTheWindow)
{
    FakeWorkspace workspace;
    FakePanels panels;
    auto window = std::make_shared<FakeWindow>();
    auto policies = mainViewPolicies(workspace, panels, window);

    EXPECT_EQ(policies.decideNavigation({ .url = "https://ircc.canada.ca/x" }), NavigationDecision::Cancel);
    EXPECT_EQ(policies.decideNavigation({ .url = "mailto:a@b.c" }), NavigationDecision::Cancel);
    EXPECT_EQ(workspace.uris, (std::vector<std::string> { "https://ircc.canada.ca/x", "mailto:a@b.c" }));
    // The page stays on its own origin; nothing else ever replaces it, whoever asks.
    for (const char* stays : { "quillpost-app://app/index.html#/clients", "QUILLPOST-APP://APP/index.html", "quillpost-app://app",
             "blob:quillpost-app://app/5f1c" })
        EXPECT_EQ(policies.decideNavigation({ .url = stays }), NavigationDecision::Allow) << stays;
    for (const char* refused : { "file:///home/a/form.html", "file:///app/index.html#/clients", "data:text/html,x", "about:blank",
             "blob:file:///1", "tel:+15551234", "quillpost-app://app.evil/index.html", "quillpost-app://app:80/",
             "quillpost-app://user@app/", "quillpost-bytes://bytes/00", "javascript:alert(1)", "" })
        EXPECT_EQ(policies.decideNavigation({ .url = refused, .userGesture = true }), NavigationDecision::Cancel) << refused;
    EXPECT_EQ(policies.decideNavigation({ .url = "https://x/", .isDownload = true }), NavigationDecision::Download);
    EXPECT_TRUE(policies.downloadUnshowableResponses);

    policies.onNewWindowRequest({ .url = "https://example.com/" });
    policies.onNewWindowRequest({ .url = "#/clients" });
    EXPECT_EQ(workspace.uris.back(), "https://example.com/");
    EXPECT_EQ(workspace.uris.size(), 3u);

    // A download over an existing file replaces it; a cancelled one gets no destination.
    TemporaryFolder folder { "quillpost-downloads" };
    workspace.downloads = folder.path();
    auto existing = folder / "report.zip";
    std::ofstream(existing) << "old";
    std::optional<std::filesystem::path> destination { "unset" };
    policies.chooseDownloadDestination("report.zip", [&](std::optional<std::filesystem::path> chosen) { destination = chosen; });
    EXPECT_EQ(panels.saveStartFolder, folder.path().string());
    EXPECT_EQ(panels.lastParent, window.get());
    panels.answer(existing.string());
    EXPECT_EQ(destination, existing);
    EXPECT_FALSE(std::filesystem::exists(existing));
    policies.chooseDownloadDestination("b.zip", [&](std::optional<std::filesystem::path> chosen) { destination = chosen; });
    panels.answer(std::nullopt);
    EXPECT_FALSE(destination);

    std::optional<bool> confirmed;
    policies.confirm("Delete?", [&](bool answer) { confirmed = answer; });
    EXPECT_EQ(panels.questions.back().buttons, (std::vector<std::string> { "OK", "Cancel" }));
    panels.choose(0);
    EXPECT_EQ(confirmed, true);
    policies.confirm("Delete?", [&](bool answer) { confirmed = answer; });
    panels.choose(std::nullopt);
    EXPECT_EQ(confirmed, false);
}

TEST(MainViewPolicies, TheEndOfEachDownloadReachesThePageAsARecord)
{
    FakeWorkspace workspace;
    FakePanels panels;
    TemporaryFolder folder { "quillpost-download-records" };
    std::filesystem::create_directories(folder / "Clients");
    workspace.downloads = folder.path();
    std::vector<Json> told;
    auto policies = mainViewPolicies(workspace, panels, std::make_shared<FakeWindow>(), [&told](const Json& record) { told.push_back(record); });
    ASSERT_TRUE(policies.downloadEnded);

    using Result = DownloadOutcome::Result;
    const struct {
        DownloadOutcome outcome;
        Json expected;
    } cases[] = {
        { { "blob:quillpost-app://app/1", Result::Saved, folder / "Invoice.pdf", 1234, "" },
            { { "url", "blob:quillpost-app://app/1" }, { "result", "saved" }, { "name", "Invoice.pdf" }, { "folder", folder.path().string() }, { "inDownloads", true }, { "size", 1234 } } },
        { { "blob:quillpost-app://app/2", Result::Saved, folder / "Clients" / "a.csv", 5, "" },
            { { "url", "blob:quillpost-app://app/2" }, { "result", "saved" }, { "name", "a.csv" }, { "folder", (folder / "Clients").string() }, { "inDownloads", false }, { "size", 5 } } },
        { { "blob:quillpost-app://app/3", Result::Cancelled, {}, 0, "cancelled by the user" },
            { { "url", "blob:quillpost-app://app/3" }, { "result", "cancelled" } } },
        { { "blob:quillpost-app://app/4", Result::Failed, {}, 0, "No space left on device" },
            { { "url", "blob:quillpost-app://app/4" }, { "result", "failed" }, { "message", "No space left on device" } } },
    };
    for (const auto& entry : cases) {
        policies.downloadEnded(entry.outcome);
        EXPECT_EQ(told.back(), entry.expected) << entry.outcome.url;
    }
    EXPECT_EQ(told.size(), std::size(cases));

    // Without a Downloads folder nothing counts as being in it.
    EXPECT_EQ(downloadRecord(cases[0].outcome, std::nullopt)["inDownloads"], false);
    // Without anyone to tell, downloads are left to the view.
    EXPECT_FALSE(mainViewPolicies(workspace, panels, std::make_shared<FakeWindow>()).downloadEnded);
}

}
}
