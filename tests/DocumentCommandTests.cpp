#include "bridge/DocumentCommands.h"
#include "common/Base64.h"
#include "doubles/CommandHarness.h"

#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class DocumentCommandTest : public testing::Test {
protected:
    fs::path root() { return harness.store().docsRoot(); }

    std::shared_ptr<CommandAnswer> save(const Json& document) { return harness.send("saveDocument", Json::array({ document })); }

    std::shared_ptr<CommandAnswer> read(const Json& path)
    {
        auto answer = harness.send("readDocument", Json::array({ path }));
        harness.clock.runBackground();
        harness.clock.runPosted();
        return answer;
    }

    std::optional<std::string> ask(const std::string& cmd, const Json& argument) { return harness.send(cmd, Json::array({ argument }))->result; }
    std::shared_ptr<CommandAnswer> email(const Json& message) { return harness.send("composeEmail", Json::array({ message })); }

    Json claim(const std::string& client, const Json& held = Json::array(), bool create = true)
    {
        auto answer = harness.send("claimClientFolder", Json::array({ client, held, create }));
        EXPECT_TRUE(answer->result) << answer->error.value_or("");
        return answer->json();
    }

    CommandHarness harness;
};

TEST_F(DocumentCommandTest, SavingFilesPerClientAndRefusesBadInputOrPlacesOutsideTheRoot)
{
    const Json scan { { "client", "..Smith: J/K" }, { "fileName", "Passport SCAN.JPEG" }, { "sub", "Forms" }, { "bytes", base64Encode("first") } };
    EXPECT_EQ(save(scan)->json(), (Json { { "path", (root() / "Smith JK" / "Forms" / "Passport SCAN.jpeg").string() }, { "name", "Passport SCAN.jpeg" }, { "size", 5 } }));
    EXPECT_EQ(save(scan)->json()["name"], "Passport SCAN (2).jpeg");
    EXPECT_EQ(save(Json { { "client", "" } })->json(), (Json { { "path", (root() / "Untitled" / "document.pdf").string() }, { "name", "document.pdf" }, { "size", 0 } }));

    for (const Json& args : { Json::array(), Json::array({ "text" }), Json::array({ Json { { "client", "Ana" }, { "bytes", "QUJ" } } }) })
        EXPECT_EQ(harness.send("saveDocument", args)->error, "bad document") << args;
    EXPECT_FALSE(fs::exists(root() / "Ana"));

    fs::create_directories(harness.path("elsewhere"));
    fs::create_symlink(harness.path("elsewhere"), root() / "Bea");
    EXPECT_TRUE(save(Json { { "client", "Bea" } })->error.value_or("").starts_with("Couldn't create the folder"));
    EXPECT_TRUE(fs::is_empty(harness.path("elsewhere")));
    if (::geteuid() != 0) {
        fs::create_directories(root() / "Cara");
        fs::permissions(root() / "Cara", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_TRUE(save(Json { { "client", "Cara" } })->error.value_or("").starts_with("Couldn't write"));
        fs::permissions(root() / "Cara", fs::perms::owner_all);
    }

    auto noRoot = CommandHarness();
    noRoot.store().config()["docsRoot"] = "/proc/quillpost-cannot-be-here";
    for (const auto& [cmd, args] : { std::pair { "saveDocument", Json::array({ Json { { "client", "Ana" } } }) }, std::pair { "claimClientFolder", Json::array({ "Gil" }) } })
        EXPECT_TRUE(noRoot.send(cmd, args)->error.value_or("").starts_with("Couldn't create the folder")) << cmd;
    EXPECT_EQ(noRoot.send("claimClientFolder", Json::array({ "Gil", Json::array(), false }))->json(), Json());
}

TEST_F(DocumentCommandTest, ListingWalksThreeLevelsSkipsHiddenAndPutsNewestFirst)
{
    const fs::path client = root() / "Ana";
    for (const auto& [name, minute] : std::vector<std::pair<std::string, int>> { { "top.pdf", 1 }, { "a/one.pdf", 5 }, { "a/b/c/three.pdf", 3 },
             { "a/b/c/d/four.pdf", 9 }, { ".hidden.pdf", 8 }, { ".private/inner.pdf", 8 }, { "same-b.pdf", 2 }, { "same-a.pdf", 2 } }) {
        writeText(client / name, "x");
        fs::last_write_time(client / name, fs::file_time_type::clock::now() - std::chrono::hours(1) + std::chrono::minutes(minute));
    }
    fs::create_symlink(harness.path("data"), client / "data-link");

    const Json listing = harness.send("listDocuments", Json::array({ "Ana" }))->json();
    EXPECT_EQ(listing["base"], client.string());
    EXPECT_EQ(listing["exists"], true);
    Strings names;
    for (const auto& file : listing["files"])
        names.push_back(file["name"]);
    std::erase(names, "data-link");
    EXPECT_EQ(names, (Strings { "one.pdf", "three.pdf", "same-a.pdf", "same-b.pdf", "top.pdf" }));
    Json three = *std::find_if(listing["files"].begin(), listing["files"].end(), [](const Json& file) { return file["name"] == "three.pdf"; });
    EXPECT_TRUE(std::regex_match(three["modified"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    three.erase("modified");
    EXPECT_EQ(three, (Json { { "name", "three.pdf" }, { "folder", "a/b/c" }, { "size", 1 }, { "path", (client / "a/b/c/three.pdf").string() } }));
    EXPECT_EQ(listing["files"].back()["folder"], "");

    EXPECT_EQ(harness.send("listDocuments", Json::array({ "Nobody" }))->json(),
        (Json { { "exists", false }, { "files", Json::array() }, { "base", (root() / "Nobody").string() } }));
    fs::create_symlink(harness.path("data"), root() / "Out");
    EXPECT_EQ(harness.send("listDocuments", Json::array({ "Out" }))->json()["files"], Json::array());
}

TEST_F(DocumentCommandTest, PathCommandsActOnlyOnFilesInsideTheRootAndReadWithinTheLimit)
{
    const fs::path letter = root() / "Ana" / "letter.PDF";
    writeText(letter, "letter");
    writeText(root() / "Ana" / "run.sh", "#!/bin/sh");
    writeText(root() / "Ana" / "page.html", "<p>");
    fs::create_symlink(root() / "Ana" / "run.sh", root() / "Ana" / "looks-like.pdf");
    ASSERT_EQ(::mkfifo((root() / "Ana" / "pipe.pdf").c_str(), 0600), 0);

    // Where a path lies is the containment check's to say; this shows each command asks it.
    EXPECT_EQ(read("/etc/hosts")->error, "Not allowed");
    EXPECT_EQ(ask("openDocument", "/etc/hosts"), "false");
    EXPECT_EQ(ask("revealDocument", "/etc/hosts"), "false");
    EXPECT_EQ(email(Json { { "path", "/etc/hosts" } })->error, "Not allowed");
    // A named pipe would block a reader for ever.
    for (const fs::path& path : { root() / "Ana" / "missing.pdf", root() / "Ana", root() / "Ana" / "pipe.pdf" })
        EXPECT_EQ(read(path.string())->error, "Not allowed") << path;
    for (const auto* refused : { "run.sh", "page.html", "looks-like.pdf", "absent.pdf" })
        EXPECT_EQ(ask("openDocument", (root() / "Ana" / refused).string()), "false") << refused;
    EXPECT_TRUE(harness.workspace.opened.empty());
    EXPECT_TRUE(harness.workspace.revealed.empty());
    EXPECT_TRUE(harness.processes.runs.empty());

    EXPECT_EQ(ask("openDocument", letter.string()), "true");
    EXPECT_EQ(harness.workspace.opened, std::vector<fs::path> { fs::canonical(letter) });
    EXPECT_EQ(ask("revealDocument", letter.string()), "true");
    EXPECT_EQ(harness.workspace.revealed, std::vector<fs::path> { fs::canonical(letter) });

    writeText(root() / "Ana" / "ten.pdf", "0123456789");
    const fs::path folder = fs::canonical(root() / "Ana");
    fs::create_symlink(harness.path("data"), folder / "swapped.pdf");
    using Outcome = Store::PageRead::Outcome;
    for (const auto& [name, limit, outcome] : std::vector<std::tuple<std::string, std::uint64_t, Outcome>> {
             { "ten.pdf", 10, Outcome::Read }, { "ten.pdf", 9, Outcome::TooLarge }, { "ten.pdf", 0, Outcome::TooLarge },
             { "swapped.pdf", 10, Outcome::Refused } }) {
        std::optional<Store::PageRead> got;
        harness.store().readBelow(root(), folder / name, [&](Store::PageRead result) { got = std::move(result); }, limit);
        harness.clock.runBackground();
        harness.clock.runPosted();
        ASSERT_TRUE(got) << name << limit;
        EXPECT_EQ(got->outcome, outcome) << name << limit;
        EXPECT_EQ(got->bytes, outcome == Outcome::Read ? "0123456789" : "") << name << limit;
    }
}

TEST_F(DocumentCommandTest, TrashingALinkTrashesTheLinkNeverItsTarget)
{
    writeText(root() / "Beta" / "b.pdf", "Beta's document");
    writeText(root() / "Alpha" / "letter.pdf", "letter");
    writeText(harness.path("secret.pdf"), "secret");
    fs::create_directories(root() / "Alpha" / "Scans");
    fs::create_symlink(root() / "Beta" / "b.pdf", root() / "Alpha" / "link.pdf");
    fs::create_symlink(harness.path("secret.pdf"), root() / "Alpha" / "Scans" / "out.pdf");
    fs::create_symlink(root() / "Beta", root() / "Alpha" / "beta-folder");
    fs::create_symlink(harness.path(""), root() / "Alpha" / "up");
    harness.workspace.trash = harness.path("Trash");

    for (const fs::path& refused : { root() / "Alpha" / "up" / "secret.pdf", root() / "Alpha" / "beta-folder" / "b.pdf", root() / "Alpha", root(),
             root() / "Alpha" / "Scans" / "..", root() / "Alpha" / "Scans" / ".", root() / "Alpha" / "missing.pdf", root() / ".." / "secret.pdf",
             fs::path(root().string() + "/Alpha/Scans/"), fs::path("Alpha/link.pdf"), fs::path(""), fs::path(root().string() + std::string("/Alpha\0/x", 9)) })
        EXPECT_EQ(ask("deleteDocument", refused.string()), "false") << refused;
    EXPECT_TRUE(harness.workspace.trashed.empty());

    for (const auto* item : { "link.pdf", "Scans/out.pdf", "letter.pdf" }) {
        EXPECT_EQ(ask("deleteDocument", (root() / "Alpha" / item).string()), "true") << item;
        EXPECT_FALSE(fs::exists(fs::symlink_status(root() / "Alpha" / item))) << item;
    }
    EXPECT_EQ(readText(root() / "Beta" / "b.pdf"), "Beta's document");
    EXPECT_EQ(readText(harness.path("secret.pdf")), "secret");
    EXPECT_TRUE(fs::is_symlink(harness.path("Trash/link.pdf")));
    EXPECT_TRUE(fs::is_symlink(harness.path("Trash/out.pdf")));
    EXPECT_EQ(readText(harness.path("Trash/letter.pdf")), "letter");
    EXPECT_TRUE(fs::is_directory(root() / "Alpha" / "Scans"));
}

TEST_F(DocumentCommandTest, ClientFolderAndOpenFolder)
{
    EXPECT_EQ(harness.send("clientFolder", Json::array({ "Ana Lima", "..", true }))->json(), (root() / "Ana Lima" / "Untitled").string());
    EXPECT_TRUE(fs::is_directory(root() / "Ana Lima" / "Untitled"));
    EXPECT_EQ(harness.send("clientFolder")->json(), (root() / "Untitled").string());
    EXPECT_EQ(harness.workspace.opened, std::vector<fs::path> { root() / "Ana Lima" / "Untitled" });

    EXPECT_EQ(ask("openFolder", harness.path("data").string()), "true");
    EXPECT_EQ(ask("openFolder", harness.path("nowhere").string()), "false");
    EXPECT_EQ(ask("openFolder", 7), "false");
}

TEST_F(DocumentCommandTest, AFolderFiledUnderTheNameIsAdoptedOnlyWhileNoOneHoldsIt)
{
    EXPECT_EQ(claim("Eve", Json::array(), false), Json());
    EXPECT_FALSE(fs::exists(root()));
    writeText(root() / "Bea" / "passport.pdf", "x");
    writeText(root() / "Cara (2)" / "old.pdf", "x");
    fs::create_directories(harness.path("elsewhere"));
    fs::create_symlink(harness.path("elsewhere"), root() / "Dan");
    writeText(root() / "Eve" / "a.pdf", "x");
    const struct {
        const char* client;
        Json held;
        Json folder;
        bool create = true;
    } cases[] = {
        { "Bea", Json::array(), "Bea" },
        // Held names are read as folder names, as saveDocument would make them.
        { "Bea", Json::array({ "Bea" }), "Bea (2)" },
        { "Bea", Json::array({ "Bea/", "Bea (2)" }), "Bea (3)" },
        // A numbered folder that is someone else's is skipped, never shared; a link is no one's folder.
        { "Cara", Json::array({ "Cara" }), "Cara (3)" },
        { "Dan", Json::array(), "Dan (2)" },
        { "../../outside", Json::array(), "outside" },
        { "", Json::array(), "Untitled" },
        { "Fay", Json::array({ 7, nullptr, "Fay" }), "Fay (2)" },
        { "Eve", Json::array(), "Eve", false },
        { "Eve", Json::array({ "Eve" }), Json(), false },
    };
    for (const auto& [client, held, folder, create] : cases) {
        EXPECT_EQ(claim(client, held, create), folder) << client << " " << held;
        EXPECT_TRUE(folder.is_null() || fs::is_directory(fs::symlink_status(root() / folder.get<std::string>()))) << folder;
    }
    EXPECT_TRUE(fs::exists(root() / "Bea" / "passport.pdf"));
    EXPECT_TRUE(fs::is_empty(harness.path("elsewhere")));
    EXPECT_FALSE(fs::exists(root().parent_path() / "outside"));
    EXPECT_FALSE(fs::exists(root() / "Eve (2)"));
    EXPECT_EQ(harness.send("claimClientFolder", Json::array({ "Fay", "Fay" }))->json(), "Fay");
    EXPECT_EQ(harness.send("claimClientFolder")->json(), "Untitled");
}

TEST_F(DocumentCommandTest, EmailGoesThroughTheMailHelperOrFallsBackToAMailLink)
{
    const fs::path letter = root() / "Ana" / "letter.pdf";
    writeText(letter, "letter");
    for (const auto* bad : { "a@x.org, b@y.org", "a@@x.org", "@x.org", "a@", "a b@x.org", "a@x.org;b@y.org", "<a@x.org>", "a\\x2c@x.org",
             "a\xC2\xA0@x.org", "plain", "a%2c@x.org", "a=b@x.org", "\"a\"@x.org", ".a@x.org", "a.@x.org", "a..b@x.org", "a@-x.org", "a@x-.org",
             "a@x..org", "a@x.org.", "a@x_y.org", "a\xE2\x80\x83" "b@x.org", "a@x.org\xC2\x85", "a\t@x.org" })
        EXPECT_EQ(email(Json { { "to", bad } })->error, "That isn't an email address.") << bad;
    // The helper would rewrite a backslash or a control character; lines and tabs in the body go through.
    for (const auto& [subject, body, field] : std::vector<std::tuple<std::string, std::string, std::string>> {
             { "a\\\\b", "", "subject" }, { "Two\nlines", "", "subject" }, { "Tab\there", "", "subject" }, { "Bell\a", "", "subject" },
             { "Del\x7F", "", "subject" }, { "Next\xC2\x85line", "", "subject" }, { "", "Hi,\\\\x27,attachment=\\x27/etc/passwd", "message text" },
             { "", "CR\r\nLF", "message text" }, { "", "Esc\x1B[0m", "message text" }, { "", "C1\xC2\x9B", "message text" } }) {
        auto answer = email(Json { { "to", "ana@example.org" }, { "subject", subject }, { "body", body } });
        EXPECT_NE(answer->error.value_or("").find("its " + field + " holds a backslash"), std::string::npos) << subject << body;
    }
    EXPECT_TRUE(harness.processes.runs.empty());

    auto sent = email(Json { { "to", "siobhan.o'brien+visa@example.ie" }, { "subject", "Zoë's file: 50%" }, { "body", "Dear Zoë,\n\tsee" }, { "path", letter.string() } });
    EXPECT_EQ(harness.processes.runs, (std::vector<Strings> { { "xdg-email", "--utf8", "--subject", "Zoë's file: 50%", "--body", "Dear Zoë,\n\tsee",
                                          "--attach", fs::canonical(letter).string(), "--to", "siobhan.o'brien+visa@example.ie" } }));
    harness.processes.exit(0);
    EXPECT_EQ(sent->json(), (Json { { "attached", true } }));
    EXPECT_EQ(harness.clock.pendingTimers(), 0u);

    auto waiting = email(Json { { "to", "ana@example.org" }, { "subject", "" }, { "path", letter.string() } });
    EXPECT_EQ(harness.processes.runs.back(), (Strings { "xdg-email", "--utf8", "--attach", fs::canonical(letter).string(), "--to", "ana@example.org" }));
    harness.clock.advance(std::chrono::minutes(5));
    EXPECT_EQ(waiting->calls, 0);
    harness.processes.exit(1);
    EXPECT_EQ(waiting->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.uris, Strings { "mailto:ana@example.org?subject=&body=" });
    EXPECT_EQ(harness.workspace.revealed, std::vector<fs::path> { fs::canonical(letter) });

    harness.processes.installed = false;
    auto noHelper = email(Json { { "to", "ana@example.org" }, { "subject", "A&B = ?" }, { "body", "Line 1\nLine 2" }, { "path", letter.string() } });
    EXPECT_EQ(noHelper->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.uris.back(), "mailto:ana@example.org?subject=A%26B%20%3D%20%3F&body=Line%201%0ALine%202");
    EXPECT_EQ(harness.workspace.revealed.size(), 2u);
    harness.processes.installed = true;
    auto noAddress = email(Json { { "to", "" } });
    harness.processes.exit(3);
    EXPECT_EQ(noAddress->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.uris.back(), "mailto:?subject=&body=");
}

TEST_F(DocumentCommandTest, AnAttachmentWithAQuoteInItsPathGoesAsAPrivateCopy)
{
    const fs::path letter = root() / "O'Brien, S" / "O'Brien's \"letter\".pdf";
    writeText(letter, "letter bytes");
    auto sent = email(Json { { "path", letter.string() } });
    ASSERT_EQ(harness.processes.runs.size(), 1u);
    const fs::path copy = harness.processes.runs[0].back();
    EXPECT_EQ(harness.processes.runs[0], (Strings { "xdg-email", "--utf8", "--attach", copy.string() }));
    EXPECT_EQ(copy.filename(), "OBriens letter.pdf");
    EXPECT_EQ(copy.parent_path().parent_path(), fs::canonical(fs::temp_directory_path()));
    EXPECT_TRUE(copy.parent_path().filename().string().starts_with("quillpost-mail-"));
    EXPECT_EQ(readText(copy), "letter bytes");
    EXPECT_EQ(fs::status(copy.parent_path()).permissions(), fs::perms::owner_all) << "only we may read the copy";
    harness.processes.exit(0);
    EXPECT_EQ(sent->json(), (Json { { "attached", true } }));

    harness.clock.advance(std::chrono::minutes(119));
    EXPECT_TRUE(fs::exists(copy));
    harness.clock.advance(std::chrono::minutes(1));
    EXPECT_FALSE(fs::exists(copy.parent_path()));

    auto failed = email(Json { { "path", letter.string() } });
    const fs::path secondCopy = harness.processes.runs.back()[3];
    EXPECT_TRUE(fs::exists(secondCopy));
    harness.processes.exit(3);
    EXPECT_EQ(failed->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.revealed.back(), fs::canonical(letter));
    EXPECT_FALSE(fs::exists(secondCopy.parent_path()));

    writeText(root() / "Ana" / "two  spaces.pdf", "x");
    email(Json { { "path", (root() / "Ana" / "two  spaces.pdf").string() } });
    EXPECT_EQ(fs::path(harness.processes.runs.back()[3]).filename(), "two spaces.pdf");
    harness.processes.exit(0);
}

// Lets a save's backup timer run and its writer report back.
void backUp(CommandHarness& harness)
{
    harness.clock.advance(std::chrono::seconds(2));
    harness.clock.runBackground();
    harness.clock.runPosted();
}

std::string saveFailure(CommandHarness& harness)
{
    return harness.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "bytes", "" } } }))->error.value_or("");
}

TEST(DocumentsRoot, ComesFromTheSettingTheDataFolderOrDocumentsAndOnlyTheDefaultIsMadeAtFirstUse)
{
    CommandHarness overridden(true);
    EXPECT_EQ(overridden.store().docsRoot(), overridden.path("data/Clients"));
    for (const auto* setting : { "/srv/clients", "", "relative/clients" }) {
        overridden.store().config()["docsRoot"] = setting;
        EXPECT_EQ(overridden.store().docsRoot(), *setting == '/' ? fs::path(setting) : overridden.path("data/Clients")) << setting;
    }

    CommandHarness harness(false);
    const fs::path usual = harness.path("home/Documents/Quillpost/Clients");
    EXPECT_FALSE(fs::exists(harness.path("home/Documents")));
    EXPECT_EQ(harness.send("clientFolder", Json::array({ "Ana" }))->json(), (usual / "Ana").string());
    EXPECT_TRUE(fs::is_directory(usual / "Ana"));

    const fs::path chosen = harness.path("usb/Clients");
    harness.store().config()["docsRoot"] = chosen.string();
    EXPECT_TRUE(saveFailure(harness).starts_with("Quillpost can't find its documents folder \"" + chosen.string() + "\""));
    EXPECT_FALSE(fs::exists(harness.path("usb")));
    // A chosen folder whose own folder is there is made again: the folder went, not the disk.
    fs::create_directories(harness.path("usb"));
    EXPECT_EQ(saveFailure(harness), "");
    EXPECT_TRUE(fs::exists(chosen / "Ana" / "document.pdf"));
}

TEST(DriveDetection, FindsTheDescribedPlacesFirstThenTheLinuxOnes)
{
    CommandHarness harness;
    EXPECT_FALSE(harness.store().detectDrive());
    const fs::path home = harness.path("home");
    const fs::path gvfs = harness.path("run/gvfs/google-drive:host=gmail.com,user=ana/My Drive");
    const fs::path cloud = home / "Library/CloudStorage/GoogleDrive-ana@example.org";
    // An ordinary file named like the legacy folder is no drive, until a folder takes its place.
    writeText(home / "Google Drive", "");
    // Each step makes some folders; the drive found then is the last step's unless a place found earlier ranks higher.
    const std::pair<std::vector<fs::path>, fs::path> steps[] = {
        { { gvfs, harness.path("run/gvfs/smb-share:server=nas") }, gvfs },
        { { home / "Insync/ana@example.org/Google Drive", home / "Insync/aaa@example.org/Dropbox" }, home / "Insync/ana@example.org/Google Drive" },
        { { home / "google-drive" }, home / "google-drive" },
        { { home / "GoogleDrive/My Drive" }, home / "GoogleDrive/My Drive" },
        { { home / "Google Drive" }, home / "Google Drive" },
        { { home / "Google Drive/My Drive" }, home / "Google Drive/My Drive" },
        { { home / "Library/CloudStorage/OneDrive-Personal", cloud / "Other" }, cloud },
        { { cloud / "Meine Ablage", cloud / "Mon disque" }, cloud / "Mon disque" },
    };
    for (const auto& [folders, found] : steps) {
        for (const fs::path& folder : folders) {
            if (fs::is_regular_file(folder))
                fs::remove(folder);
            fs::create_directories(folder);
        }
        EXPECT_EQ(harness.store().detectDrive(), found);
    }
    EXPECT_EQ(harness.send("info")->json()["driveDetected"], (cloud / "Mon disque").string());
    EXPECT_EQ(harness.send("driveDetect")->json(), (cloud / "Mon disque").string());
}

TEST(DriveConnection, MovesTheDocumentsRootAndBackupsIntoAFolderThatIsThereAndBack)
{
    CommandHarness harness;
    writeText(harness.path("home/file"), "");
    for (const std::string& path : { harness.path("home/vanished").string(), std::string(), std::string("relative"), harness.path("home/file").string() })
        EXPECT_TRUE(harness.send("driveConnectPath", Json::array({ path }))->error.value_or("").starts_with("Quillpost can't find that folder")) << path;
    EXPECT_FALSE(fs::exists(harness.path("home/vanished")));
    EXPECT_FALSE(harness.store().config().contains("drive"));

    const fs::path drive = harness.path("home/GoogleDrive");
    const fs::path clients = drive / "Quillpost" / "Clients";
    fs::create_directories(drive);
    harness.send("save", Json::array({ R"({"clients":[]})" }));
    backUp(harness);
    EXPECT_EQ(harness.send("driveConnectPath", Json::array({ drive.string() }))->json(),
        (Json { { "drive", drive.string() }, { "backupFolder", (drive / "Quillpost" / "Backups").string() }, { "docsRoot", clients.string() } }));
    EXPECT_TRUE(fs::is_directory(clients));
    const Json settings = Json::parse(readText(harness.path("data/config.json")));
    EXPECT_EQ(Json::array({ settings["drive"], settings["docsRoot"] }), Json::array({ drive.string(), clients.string() }));
    EXPECT_EQ(harness.send("info")->json()["docsIsDrive"], true);
    harness.clock.advance(std::chrono::milliseconds(1500));
    harness.clock.runBackground();
    EXPECT_EQ(readText(drive / "Quillpost" / "Backups" / "Quillpost-backup.json"), R"({"clients":[]})");

    EXPECT_EQ(harness.send("driveDisconnect")->result, "true");
    const Json info = harness.send("info")->json();
    EXPECT_EQ(Json::array({ info["docsIsDrive"], info["drive"], info["backupFolder"], info["docsRoot"] }),
        Json::array({ false, "", "", harness.path("data/Clients").string() }));
    EXPECT_FALSE(Json::parse(readText(harness.path("data/config.json"))).contains("drive"));
    EXPECT_TRUE(fs::is_directory(clients));

    if (::geteuid() != 0) {
        fs::create_directories(harness.path("home/locked"));
        fs::permissions(harness.path("home/locked"), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(harness.send("driveConnectPath", Json::array({ harness.path("home/locked").string() }))->json()["docsRoot"], harness.path("home/locked/Quillpost/Clients").string());
        fs::permissions(harness.path("home/locked"), fs::perms::owner_all);
    }
}

TEST(DriveConnection, ADriveThatIsNotMountedIsNeverWrittenInto)
{
    for (const char* driveName : { "GoogleDrive", "GoogleDrive/My Drive" }) {
        CommandHarness harness;
        const fs::path drive = harness.path(std::string("home/") + driveName);
        fs::create_directories(drive);
        ASSERT_TRUE(harness.send("driveConnectPath", Json::array({ drive.string() }))->result);
        fs::remove_all(harness.path("home/GoogleDrive"));
        fs::create_directories(harness.path("home/GoogleDrive"));

        const std::string unreachable = "Quillpost can't reach its documents folder in your Google Drive (\"" + (drive / "Quillpost" / "Clients").string() + "\")";
        for (const std::string& error : { saveFailure(harness), harness.send("clientFolder", Json::array({ "Ana", "", true }))->error.value_or(""),
                 harness.send("claimClientFolder", Json::array({ "Gil" }))->error.value_or("") })
            EXPECT_TRUE(error.starts_with(unreachable)) << driveName << " " << error;
        EXPECT_TRUE(harness.workspace.opened.empty());
        harness.store().save(R"({"clients":[]})");
        backUp(harness);
        EXPECT_TRUE(harness.store().lastBackupError().starts_with("Quillpost couldn't write its backup copy into your Google Drive (\"" + (drive / "Quillpost" / "Backups").string() + "\")"))
            << harness.store().lastBackupError();
        EXPECT_TRUE(fs::is_empty(harness.path("home/GoogleDrive"))) << driveName;

        fs::create_directories(drive / "Quillpost");
        EXPECT_EQ(saveFailure(harness), "");
        EXPECT_TRUE(fs::exists(drive / "Quillpost" / "Clients" / "Ana" / "document.pdf"));
    }
}

TEST(DriveConnection, PanelsAskWhenNothingIsDetectedOrTheUserWantsToChoose)
{
    CommandHarness harness;
    auto cancelled = harness.send("driveConnect");
    ASSERT_EQ(harness.panels.titles.size(), 1u);
    harness.panels.answer(std::nullopt);
    EXPECT_EQ(cancelled->result, "null");

    const fs::path detected = harness.path("home/Google Drive/My Drive");
    fs::create_directories(detected);
    EXPECT_EQ(harness.send("driveConnect", Json::array({ false }))->json()["drive"], detected.string());
    EXPECT_EQ(harness.panels.titles.size(), 1u);

    const fs::path chosen = harness.path("home/Other Drive");
    fs::create_directories(chosen);
    auto manual = harness.send("driveConnect", Json::array({ true }));
    EXPECT_EQ(manual->calls, 0);
    harness.panels.answer(chosen.string());
    EXPECT_EQ(manual->json()["docsRoot"], (chosen / "Quillpost" / "Clients").string());

    for (const auto& [answer, result] : std::vector<std::pair<std::optional<std::string>, Json>> {
             { harness.path("elsewhere").string(), harness.path("elsewhere").string() }, { std::string("/media/caf\xE9"), Json() }, { std::nullopt, nullptr } }) {
        auto root = harness.send("chooseDocsRoot");
        harness.panels.answer(answer);
        EXPECT_EQ(root->json(), result) << answer.value_or("");
        EXPECT_EQ(root->error.has_value(), answer && answer->starts_with("/media")) << answer.value_or("");
        EXPECT_EQ(harness.store().docsRoot(), harness.path("elsewhere"));
    }
    EXPECT_EQ(harness.store().configString("drive"), chosen.string());
}

}
}