#include "doubles/CommandHarness.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

TEST(DocumentsRoot, ComesFromTheSettingTheDataFolderOrDocuments)
{
    CommandHarness overridden(true);
    EXPECT_EQ(overridden.store().docsRoot(), overridden.path("data/Clients"));
    overridden.store().config()["docsRoot"] = "/srv/clients";
    EXPECT_EQ(overridden.store().docsRoot(), "/srv/clients");
    // A setting that names no place of its own is not taken.
    for (const auto* unusable : { "", "relative/clients" }) {
        overridden.store().config()["docsRoot"] = unusable;
        EXPECT_EQ(overridden.store().docsRoot(), overridden.path("data/Clients")) << unusable;
    }

    CommandHarness usual(false);
    EXPECT_EQ(usual.store().docsRoot(), usual.path("home/Documents/Quillpost/Clients"));
}

TEST(DriveDetection, FindsTheDescribedPlacesFirstThenTheLinuxOnes)
{
    CommandHarness harness;
    const fs::path home = harness.path("home");
    auto detected = [&] { return harness.store().detectDrive(); };
    EXPECT_FALSE(detected());

    fs::create_directories(harness.path("run/gvfs/google-drive:host=gmail.com,user=ana/My Drive"));
    fs::create_directories(harness.path("run/gvfs/smb-share:server=nas"));
    EXPECT_EQ(detected(), harness.path("run/gvfs/google-drive:host=gmail.com,user=ana/My Drive"));

    fs::create_directories(home / "Insync" / "ana@example.org" / "Google Drive");
    fs::create_directories(home / "Insync" / "aaa@example.org" / "Dropbox");
    EXPECT_EQ(detected(), home / "Insync" / "ana@example.org" / "Google Drive");

    fs::create_directories(home / "google-drive");
    EXPECT_EQ(detected(), home / "google-drive");
    fs::create_directories(home / "GoogleDrive" / "My Drive");
    EXPECT_EQ(detected(), home / "GoogleDrive" / "My Drive");

    // An ordinary file named like the legacy folder is no drive.
    writeText(home / "Google Drive", "");
    EXPECT_EQ(detected(), home / "GoogleDrive" / "My Drive");
    fs::remove(home / "Google Drive");
    fs::create_directories(home / "Google Drive");
    EXPECT_EQ(detected(), home / "Google Drive");
    fs::create_directories(home / "Google Drive" / "My Drive");
    EXPECT_EQ(detected(), home / "Google Drive" / "My Drive");

    fs::create_directories(home / "Library" / "CloudStorage" / "OneDrive-Personal");
    fs::create_directories(home / "Library" / "CloudStorage" / "GoogleDrive-ana@example.org" / "Other");
    EXPECT_EQ(detected(), home / "Library" / "CloudStorage" / "GoogleDrive-ana@example.org");
    fs::create_directories(home / "Library" / "CloudStorage" / "GoogleDrive-ana@example.org" / "Meine Ablage");
    fs::create_directories(home / "Library" / "CloudStorage" / "GoogleDrive-ana@example.org" / "Mon disque");
    EXPECT_EQ(detected(), home / "Library" / "CloudStorage" / "GoogleDrive-ana@example.org" / "Mon disque");

    auto info = harness.send("info")->json();
    EXPECT_EQ(info["driveDetected"], (home / "Library" / "CloudStorage" / "GoogleDrive-ana@example.org" / "Mon disque").string());
    EXPECT_EQ(harness.send("driveDetect")->json(), info["driveDetected"]);
}

TEST(DriveConnection, MovesTheDocumentsRootAndBackupsIntoTheDriveAndBack)
{
    CommandHarness harness;
    const fs::path drive = harness.path("home/GoogleDrive");
    fs::create_directories(drive);
    harness.send("save", Json::array({ R"({"clients":[]})" }));
    harness.clock.advance(std::chrono::seconds(2));
    harness.clock.runBackground();
    harness.clock.runPosted();

    auto connected = harness.send("driveConnectPath", Json::array({ drive.string() }))->json();
    EXPECT_EQ(connected, (Json { { "drive", drive.string() }, { "backupFolder", (drive / "Quillpost" / "Backups").string() }, { "docsRoot", (drive / "Quillpost" / "Clients").string() } }));
    EXPECT_TRUE(fs::is_directory(drive / "Quillpost" / "Clients"));
    const Json settings = Json::parse(readText(harness.path("data/config.json")));
    EXPECT_EQ(settings["drive"], drive.string());
    EXPECT_EQ(settings["docsRoot"], (drive / "Quillpost" / "Clients").string());
    auto info = harness.send("info")->json();
    EXPECT_EQ(info["docsIsDrive"], true);
    EXPECT_EQ(info["docsRoot"], (drive / "Quillpost" / "Clients").string());

    // The drive receives a first backup copy about 1.5 seconds later.
    harness.clock.advance(std::chrono::milliseconds(1500));
    harness.clock.runBackground();
    harness.clock.runPosted();
    EXPECT_EQ(readText(drive / "Quillpost" / "Backups" / "Quillpost-backup.json"), R"({"clients":[]})");

    EXPECT_EQ(harness.send("driveDisconnect")->result, "true");
    info = harness.send("info")->json();
    EXPECT_EQ(info["docsIsDrive"], false);
    EXPECT_EQ(info["drive"], "");
    EXPECT_EQ(info["backupFolder"], "");
    EXPECT_EQ(info["docsRoot"], harness.path("data/Clients").string());
    EXPECT_FALSE(Json::parse(readText(harness.path("data/config.json"))).contains("drive"));
    EXPECT_TRUE(fs::is_directory(drive / "Quillpost" / "Clients"));
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

        auto saved = harness.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "bytes", "" } } }));
        auto folder = harness.send("clientFolder", Json::array({ "Ana", "", true }));
        for (const auto& answer : { saved, folder }) {
            ASSERT_TRUE(answer->error) << driveName;
            EXPECT_TRUE(answer->error->starts_with("Quillpost can't reach its documents folder in your Google Drive (\"" + (drive / "Quillpost" / "Clients").string() + "\")"))
                << *answer->error;
        }
        EXPECT_TRUE(harness.workspace.opened.empty());

        // Nor is the backup copy written there.
        harness.store().save(R"({"clients":[]})");
        harness.clock.advance(std::chrono::seconds(2));
        harness.clock.runBackground();
        harness.clock.runPosted();
        EXPECT_TRUE(harness.store().lastBackupError().starts_with("Quillpost couldn't write its backup copy into your Google Drive (\"" + (drive / "Quillpost" / "Backups").string() + "\")"))
            << harness.store().lastBackupError();
        EXPECT_TRUE(fs::is_empty(harness.path("home/GoogleDrive"))) << driveName;

        // Once the drive is back with Quillpost's folder, documents are filed as before; a
        // Clients folder removed from it is made again.
        fs::create_directories(drive / "Quillpost");
        EXPECT_EQ(harness.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "bytes", "" } } }))->json()["path"], (drive / "Quillpost" / "Clients" / "Ana" / "document.pdf").string());
    }
}

TEST(DocumentsRoot, AChosenFolderThatIsGoneIsNotMadeAgainButTheDefaultIsMadeAtFirstUse)
{
    CommandHarness harness(false);
    const fs::path usual = harness.path("home/Documents/Quillpost/Clients");
    EXPECT_FALSE(fs::exists(harness.path("home/Documents")));
    EXPECT_EQ(harness.send("clientFolder", Json::array({ "Ana" }))->json(), (usual / "Ana").string());
    EXPECT_TRUE(fs::is_directory(usual / "Ana"));

    const fs::path chosen = harness.path("usb/Clients");
    harness.store().config()["docsRoot"] = chosen.string();
    auto saved = harness.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "bytes", "" } } }));
    ASSERT_TRUE(saved->error);
    EXPECT_EQ(*saved->error, "Quillpost can't find its documents folder \"" + chosen.string()
            + "\": it was moved or deleted, or it is on a disk that isn't connected. Nothing was put there; connect the disk and try again, or choose the documents folder in Settings.");
    EXPECT_FALSE(fs::exists(harness.path("usb")));

    // A chosen folder whose own folder is there is made again: the folder went, not the disk.
    fs::create_directories(harness.path("usb"));
    EXPECT_TRUE(harness.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "bytes", "" } } }))->result);
    EXPECT_TRUE(fs::exists(chosen / "Ana" / "document.pdf"));
}

TEST(DriveConnection, AFolderThatIsNotThereChangesNothing)
{
    CommandHarness harness;
    for (const std::string& path : { harness.path("home/vanished").string(), std::string(), std::string("relative"), harness.path("home/file").string() }) {
        if (path.ends_with("file"))
            writeText(path, "");
        auto refused = harness.send("driveConnectPath", Json::array({ path }));
        EXPECT_TRUE(refused->error && refused->error->starts_with("Quillpost can't find that folder")) << path;
    }
    EXPECT_FALSE(fs::exists(harness.path("home/vanished")));
    EXPECT_FALSE(harness.store().config().contains("drive"));
    EXPECT_FALSE(fs::exists("Quillpost/Clients"));

    // Without write permission the folders can't be made, but the settings still change.
    if (::geteuid() != 0) {
        fs::create_directories(harness.path("home/locked"));
        fs::permissions(harness.path("home/locked"), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(harness.send("driveConnectPath", Json::array({ harness.path("home/locked").string() }))->json()["docsRoot"], harness.path("home/locked/Quillpost/Clients").string());
        fs::permissions(harness.path("home/locked"), fs::perms::owner_all);
    }
}

TEST(DriveConnection, PanelsAskWhenNothingIsDetectedOrTheUserWantsToChoose)
{
    CommandHarness harness;
    auto cancelled = harness.send("driveConnect");
    ASSERT_EQ(harness.panels.titles.size(), 1u);
    EXPECT_EQ(harness.panels.titles.back(), "Choose your Google Drive folder (\"My Drive\")");
    harness.panels.answer(std::nullopt);
    EXPECT_EQ(cancelled->result, "null");

    const fs::path detected = harness.path("home/Google Drive/My Drive");
    fs::create_directories(detected);
    auto automatic = harness.send("driveConnect", Json::array({ false }));
    EXPECT_EQ(harness.panels.titles.size(), 1u);
    EXPECT_EQ(automatic->json()["drive"], detected.string());

    const fs::path chosen = harness.path("home/Other Drive");
    fs::create_directories(chosen);
    auto manual = harness.send("driveConnect", Json::array({ true }));
    EXPECT_EQ(harness.panels.titles.size(), 2u);
    EXPECT_EQ(manual->calls, 0);
    harness.panels.answer(chosen.string());
    EXPECT_EQ(manual->json()["docsRoot"], (chosen / "Quillpost" / "Clients").string());

    auto root = harness.send("chooseDocsRoot");
    EXPECT_EQ(harness.panels.titles.back(), "Choose where client document folders go");
    harness.panels.answer(harness.path("elsewhere").string());
    EXPECT_EQ(root->json(), harness.path("elsewhere").string());
    EXPECT_EQ(harness.store().docsRoot(), harness.path("elsewhere"));
    EXPECT_EQ(harness.store().configString("drive"), chosen.string());

    auto unstorable = harness.send("chooseDocsRoot");
    harness.panels.answer(std::string("/media/caf\xE9"));
    EXPECT_TRUE(unstorable->error);
    EXPECT_EQ(harness.store().docsRoot(), harness.path("elsewhere"));
    auto cancelledRoot = harness.send("chooseDocsRoot");
    harness.panels.answer(std::nullopt);
    EXPECT_EQ(cancelledRoot->result, "null");
}

}
}
