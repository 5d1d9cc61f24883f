#include "app/MainViewPolicies.h"
#include "app/MenuTable.h"
#include "doubles/DesktopDoubles.h"
#include "doubles/FakeWebView.h"
#include "doubles/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace quillpost {
namespace {

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

}
}
