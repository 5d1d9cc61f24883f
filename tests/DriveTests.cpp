#include "doubles/CommandHarness.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

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
    // A setting that names no place of its own is not taken.
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
    EXPECT_EQ(settings["drive"], drive.string());
    EXPECT_EQ(settings["docsRoot"], clients.string());
    EXPECT_EQ(harness.send("info")->json()["docsIsDrive"], true);
    // The drive receives a first backup copy about 1.5 seconds later.
    harness.clock.advance(std::chrono::milliseconds(1500));
    harness.clock.runBackground();
    EXPECT_EQ(readText(drive / "Quillpost" / "Backups" / "Quillpost-backup.json"), R"({"clients":[]})");

    EXPECT_EQ(harness.send("driveDisconnect")->result, "true");
    const Json info = harness.send("info")->json();
    EXPECT_EQ(info["docsIsDrive"], false);
    EXPECT_EQ(info["drive"], "");
    EXPECT_EQ(info["backupFolder"], "");
    EXPECT_EQ(info["docsRoot"], harness.path("data/Clients").string());
    EXPECT_FALSE(Json::parse(readText(harness.path("data/config.json"))).contains("drive"));
    EXPECT_TRUE(fs::is_directory(clients));

    // Without write permission the folders can't be made, but the settings still change.
    if (::geteuid() != 0) {
        fs::create_directories(harness.path("home/locked"));
        fs::permissions(harness.path("home/locked"), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(harness.send("driveConnectPath", Json::array({ harness.path("home/locked").string() }))->json()["docsRoot"], harness.path("home/locked/Quillpost/Clients").string());
        fs::permissions(harness.path("home/locked"), fs::perms::owner_all);
    }
}

TEST(DriveConnection, ADriveThatIsNotMountedIsNeverWrittenInto)
{
    // The drive's folder left as an empty mount point, and a drive gone altogether.
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

        // Once the drive is back with Quillpost's folder, a Clients folder removed from it is made again.
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

    // A folder chosen for the documents alone; one whose name can't be stored, or none, changes nothing.
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