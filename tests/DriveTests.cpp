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
