#include "bridge/DocumentCommands.h"
#include "common/Base64.h"
#include "doubles/CommandHarness.h"

#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

class DocumentCommandTest : public testing::Test {
protected:
    fs::path root() { return harness.store().docsRoot(); }

    std::shared_ptr<CommandAnswer> save(const std::string& client, const std::string& sub, const std::string& fileName, const std::string& bytes)
    {
        return harness.send("saveDocument", Json::array({ Json { { "client", client }, { "sub", sub }, { "fileName", fileName }, { "bytes", base64Encode(bytes) } } }));
    }

    // Reads answer from the background queue, by way of the main queue.
    std::shared_ptr<CommandAnswer> read(const std::string& cmd, const Json& path)
    {
        auto answer = harness.send(cmd, Json::array({ path }));
        harness.clock.runBackground();
        harness.clock.runPosted();
        return answer;
    }

    CommandHarness harness;
};

TEST_F(DocumentCommandTest, SavedDocumentsAreFiledPerClientAndReadBackUnchanged)
{
    std::string bytes;
    for (int i = 0; i < 70000; ++i)
        bytes += static_cast<char>(i * 7);
    auto first = save("..Smith: J/K", "Forms", "Passport SCAN.JPEG", bytes);
    ASSERT_TRUE(first->result) << first->error.value_or("");
    const Json saved = first->json();
    EXPECT_EQ(saved["path"], (root() / "Smith JK" / "Forms" / "Passport SCAN.jpeg").string());
    EXPECT_EQ(saved["name"], "Passport SCAN.jpeg");
    EXPECT_EQ(saved["size"], bytes.size());
    EXPECT_EQ(readText(saved["path"].get<std::string>()), bytes);

    EXPECT_EQ(save("..Smith: J/K", "Forms", "Passport SCAN.JPEG", "b")->json()["name"], "Passport SCAN (2).jpeg");
    EXPECT_EQ(save("..Smith: J/K", "Forms", "Passport SCAN.JPEG", "c")->json()["name"], "Passport SCAN (3).jpeg");
    EXPECT_EQ(readText(root() / "Smith JK" / "Forms" / "Passport SCAN.jpeg"), bytes);

    auto readBack = read("readDocument", saved["path"]);
    ASSERT_TRUE(readBack->result);
    EXPECT_EQ(base64Decode(readBack->json().get<std::string>()), bytes);

    // No sub-folder, no name, no bytes: the client folder, "document.pdf", an empty file.
    auto plain = harness.send("saveDocument", Json::array({ Json { { "client", "" } } }));
    EXPECT_EQ(plain->json()["path"], (root() / "Untitled" / "document.pdf").string());
    EXPECT_EQ(plain->json()["size"], 0);
}

TEST_F(DocumentCommandTest, SavingRefusesBadInputAndWritesNothingOutsideTheRoot)
{
    EXPECT_EQ(harness.send("saveDocument")->error, "bad document");
    EXPECT_EQ(harness.send("saveDocument", Json::array({ "text" }))->error, "bad document");
    for (const auto* bad : { "not base64!", "QUJD\n", "QUJ" })
        EXPECT_EQ(harness.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "bytes", bad } } }))->error, "bad document") << bad;
    EXPECT_FALSE(fs::exists(root() / "Ana"));

    // A client folder that is a link out of the root is not written through.
    fs::create_directories(root());
    fs::create_directories(harness.path("elsewhere"));
    fs::create_symlink(harness.path("elsewhere"), root() / "Bea");
    auto refused = save("Bea", "", "x.pdf", "data");
    ASSERT_TRUE(refused->error);
    EXPECT_NE(refused->error->find("Couldn't create the folder"), std::string::npos) << *refused->error;
    EXPECT_TRUE(fs::is_empty(harness.path("elsewhere")));

    // A documents root that can't be written: a clear failure. (Root ignores permissions.)
    if (::geteuid() != 0) {
        fs::create_directories(root() / "Cara");
        fs::permissions(root() / "Cara", fs::perms::owner_read | fs::perms::owner_exec);
        auto readOnly = save("Cara", "", "x.pdf", "data");
        EXPECT_TRUE(readOnly->error && readOnly->error->starts_with("Couldn't write")) << readOnly->error.value_or("");
        fs::permissions(root() / "Cara", fs::perms::owner_all);
    }
    auto noRoot = CommandHarness();
    noRoot.store().config()["docsRoot"] = "/proc/quillpost-cannot-be-here";
    auto failed = noRoot.send("saveDocument", Json::array({ Json { { "client", "Ana" }, { "bytes", "" } } }));
    EXPECT_TRUE(failed->error && failed->error->starts_with("Couldn't create the folder")) << failed->error.value_or("");
}

TEST_F(DocumentCommandTest, ListingWalksThreeLevelsSkipsHiddenAndPutsNewestFirst)
{
    const fs::path client = root() / "Ana";
    auto at = [&](const fs::path& path, int minute) {
        writeText(path, "x");
        const auto time = fs::file_time_type::clock::now() - std::chrono::hours(1) + std::chrono::minutes(minute);
        fs::last_write_time(path, time);
    };
    at(client / "top.pdf", 1);
    at(client / "a" / "one.pdf", 5);
    at(client / "a" / "b" / "c" / "three.pdf", 3);
    at(client / "a" / "b" / "c" / "d" / "four.pdf", 9);
    at(client / ".hidden.pdf", 8);
    at(client / ".private" / "inner.pdf", 8);
    at(client / "same-b.pdf", 2);
    at(client / "same-a.pdf", 2);
    fs::create_symlink(harness.path("data"), client / "data-link");

    auto reply = harness.send("listDocuments", Json::array({ "Ana" }));
    const Json listing = reply->json();
    EXPECT_EQ(listing["base"], client.string());
    EXPECT_EQ(listing["exists"], true);
    std::vector<std::string> names;
    for (const auto& file : listing["files"])
        names.push_back(file["name"]);
    // The link is listed as itself (with its own time) and never walked into.
    std::erase(names, "data-link");
    EXPECT_EQ(names, (std::vector<std::string> { "one.pdf", "three.pdf", "same-a.pdf", "same-b.pdf", "top.pdf" }));
    for (const auto& file : listing["files"]) {
        if (file["name"] == "three.pdf") {
            EXPECT_EQ(file["folder"], "a/b/c");
            EXPECT_EQ(file["size"], 1);
            EXPECT_EQ(file["path"], (client / "a" / "b" / "c" / "three.pdf").string());
            EXPECT_TRUE(std::regex_match(file["modified"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
        }
        if (file["name"] == "top.pdf") {
            EXPECT_EQ(file["folder"], "");
        }
    }

    auto missing = harness.send("listDocuments", Json::array({ "Nobody" }))->json();
    EXPECT_EQ(missing["exists"], false);
    EXPECT_EQ(missing["files"], Json::array());
    EXPECT_EQ(missing["base"], (root() / "Nobody").string());

    // A client folder that leads out of the root lists nothing of what is there.
    fs::create_symlink(harness.path("data"), root() / "Out");
    EXPECT_EQ(harness.send("listDocuments", Json::array({ "Out" }))->json()["files"], Json::array());
}

TEST_F(DocumentCommandTest, PathCommandsRefuseEverythingOutsideTheRoot)
{
    writeText(root() / "Ana" / "letter.pdf", "letter");
    writeText(harness.path("secret.pdf"), "secret");
    writeText(harness.path("Clients2/other.pdf"), "other");
    fs::create_symlink(harness.path("secret.pdf"), root() / "Ana" / "link.pdf");
    fs::create_symlink(harness.path(""), root() / "Ana" / "up");

    const std::vector<std::string> outside {
        root().string(), root().string() + "/", "/etc/hosts", harness.path("secret.pdf").string(),
        (root() / ".." / "secret.pdf").string(), (root() / "Ana" / "link.pdf").string(),
        (root() / "Ana" / "up" / "secret.pdf").string(), (root().parent_path() / "Clients2" / "other.pdf").string(),
        "Ana/letter.pdf", "", std::string("/etc/hosts\0.pdf", 15),
    };
    harness.workspace.trash = harness.path("Trash");
    for (const auto& path : outside) {
        EXPECT_EQ(read("readDocument", path)->error, "Not allowed") << path;
        EXPECT_EQ(harness.send("openDocument", Json::array({ path }))->result, "false") << path;
        EXPECT_EQ(harness.send("revealDocument", Json::array({ path }))->result, "false") << path;
        // A link inside a client's folder is trashed as itself (below), never what it points at.
        if (path != (root() / "Ana" / "link.pdf").string()) {
            EXPECT_EQ(harness.send("deleteDocument", Json::array({ path }))->result, "false") << path;
        }
        // An empty path is no attachment.
        if (!path.empty()) {
            EXPECT_EQ(harness.send("composeEmail", Json::array({ Json { { "path", path } } }))->error, "Not allowed") << path;
        }
    }
    EXPECT_TRUE(harness.workspace.opened.empty());
    EXPECT_TRUE(harness.workspace.revealed.empty());
    EXPECT_TRUE(harness.workspace.trashed.empty());
    EXPECT_TRUE(harness.processes.runs.empty());
    EXPECT_EQ(readText(harness.path("secret.pdf")), "secret");

    EXPECT_EQ(read("readDocument", (root() / "Ana" / "missing.pdf").string())->error, "Not allowed");
    EXPECT_EQ(read("readDocument", (root() / "Ana").string())->error, "Not allowed");
    // A named pipe would block a reader for ever; it is refused at once.
    ASSERT_EQ(::mkfifo((root() / "Ana" / "pipe.pdf").c_str(), 0600), 0);
    EXPECT_EQ(read("readDocument", (root() / "Ana" / "pipe.pdf").string())->error, "Not allowed");
}

TEST_F(DocumentCommandTest, OpenRevealAndTrashDocumentsInsideTheRoot)
{
    const fs::path letter = root() / "Ana" / "letter.PDF";
    writeText(letter, "letter");
    writeText(root() / "Ana" / "run.sh", "#!/bin/sh");
    writeText(root() / "Ana" / "page.html", "<p>");
    fs::create_symlink(root() / "Ana" / "run.sh", root() / "Ana" / "looks-like.pdf");

    EXPECT_EQ(harness.send("openDocument", Json::array({ letter.string() }))->result, "true");
    for (const auto* refused : { "run.sh", "page.html", "looks-like.pdf", "absent.pdf" })
        EXPECT_EQ(harness.send("openDocument", Json::array({ (root() / "Ana" / refused).string() }))->result, "false") << refused;
    EXPECT_EQ(harness.workspace.opened, std::vector<fs::path> { fs::canonical(letter) });

    EXPECT_EQ(harness.send("revealDocument", Json::array({ letter.string() }))->result, "true");
    EXPECT_EQ(harness.workspace.revealed, std::vector<fs::path> { fs::canonical(letter) });

    // A volume without a Trash: the file stays.
    EXPECT_EQ(harness.send("deleteDocument", Json::array({ letter.string() }))->result, "false");
    EXPECT_TRUE(fs::exists(letter));
    harness.workspace.trash = harness.path("Trash");
    EXPECT_EQ(harness.send("deleteDocument", Json::array({ letter.string() }))->result, "true");
    EXPECT_FALSE(fs::exists(letter));
    EXPECT_EQ(readText(harness.path("Trash/letter.PDF")), "letter");
}

TEST_F(DocumentCommandTest, TrashingALinkTrashesTheLinkNeverItsTarget)
{
    writeText(root() / "Beta" / "b.pdf", "Beta's document");
    writeText(harness.path("secret.pdf"), "secret");
    fs::create_directories(root() / "Alpha" / "Scans");
    fs::create_symlink(root() / "Beta" / "b.pdf", root() / "Alpha" / "link.pdf");
    fs::create_symlink(harness.path("secret.pdf"), root() / "Alpha" / "Scans" / "out.pdf");
    harness.workspace.trash = harness.path("Trash");

    auto listed = harness.send("listDocuments", Json::array({ "Alpha" }))->json()["files"];
    ASSERT_FALSE(listed.empty());
    for (const auto& entry : listed) {
        const std::string path = entry["path"].get<std::string>();
        EXPECT_EQ(harness.send("deleteDocument", Json::array({ path }))->result, "true") << path;
        EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path;
    }
    EXPECT_EQ(readText(root() / "Beta" / "b.pdf"), "Beta's document");
    EXPECT_EQ(readText(harness.path("secret.pdf")), "secret");
    EXPECT_TRUE(fs::is_symlink(harness.path("Trash/link.pdf")));
    EXPECT_TRUE(fs::is_symlink(harness.path("Trash/out.pdf")));

    // The item must lie in a folder inside the root: through a linked folder, the root itself,
    // names that aren't an item, and missing items are refused.
    fs::create_symlink(root() / "Beta", root() / "Alpha" / "beta-folder");
    fs::create_symlink(harness.path(""), root() / "Alpha" / "up");
    for (const fs::path& refused : { root() / "Alpha" / "up" / "secret.pdf", root() / "Alpha" / "beta-folder" / "b.pdf", root() / "Alpha", root() / "Alpha" / "Scans" / "..", root() / "Alpha" / "Scans" / ".", root() / "Alpha" / "missing.pdf",
             fs::path(root().string() + "/Alpha/Scans/"), fs::path("Alpha/link.pdf") }) {
        EXPECT_EQ(harness.send("deleteDocument", Json::array({ refused.string() }))->result, "false") << refused;
    }
    EXPECT_EQ(readText(root() / "Beta" / "b.pdf"), "Beta's document");
    EXPECT_EQ(readText(harness.path("secret.pdf")), "secret");
    EXPECT_TRUE(fs::is_directory(root() / "Alpha" / "Scans"));
    EXPECT_EQ(harness.workspace.trashed.size(), 2u);
}

TEST_F(DocumentCommandTest, ClientFolderAndOpenFolder)
{
    EXPECT_EQ(harness.send("clientFolder", Json::array({ "Ana Lima", "..", true }))->json(), (root() / "Ana Lima" / "Untitled").string());
    EXPECT_TRUE(fs::is_directory(root() / "Ana Lima" / "Untitled"));
    EXPECT_EQ(harness.workspace.opened, std::vector<fs::path> { root() / "Ana Lima" / "Untitled" });
    EXPECT_EQ(harness.send("clientFolder")->json(), (root() / "Untitled").string());
    EXPECT_EQ(harness.workspace.opened.size(), 1u);

    EXPECT_EQ(harness.send("openFolder", Json::array({ harness.path("data").string() }))->result, "true");
    EXPECT_EQ(harness.send("openFolder", Json::array({ harness.path("nowhere").string() }))->result, "false");
    EXPECT_EQ(harness.send("openFolder", Json::array({ 7 }))->result, "false");
}

TEST_F(DocumentCommandTest, EmailGoesThroughTheMailHelperWithTheAttachment)
{
    const fs::path letter = root() / "Ana" / "letter.pdf";
    writeText(letter, "letter");

    EXPECT_EQ(harness.send("composeEmail", Json::array({ Json { { "to", "a@x.org, b@y.org" } } }))->error, "That isn't an email address.");
    for (const auto* bad : { "a@@x.org", "@x.org", "a@", "a b@x.org", "a@x.org;b@y.org", "<a@x.org>", "a\\x2c@x.org", "a\xC2\xA0@x.org", "plain", "a%2c@x.org", "a=b@x.org",
             "\"a\"@x.org", ".a@x.org", "a.@x.org", "a..b@x.org", "a@-x.org", "a@x-.org", "a@x..org", "a@x.org.", "a@x_y.org", "a\xE2\x80\x83" "b@x.org", "a@x.org\xC2\x85", "a\t@x.org" })
        EXPECT_EQ(harness.send("composeEmail", Json::array({ Json { { "to", bad } } }))->error, "That isn't an email address.") << bad;

    auto sent = harness.send("composeEmail", Json::array({ Json { { "to", "ana@example.org" }, { "subject", "Your file" }, { "body", "Hello" }, { "path", letter.string() } } }));
    EXPECT_EQ(sent->calls, 0);
    ASSERT_EQ(harness.processes.runs.size(), 1u);
    EXPECT_EQ(harness.processes.runs[0], (std::vector<std::string> { "xdg-email", "--utf8", "--subject", "Your file", "--body", "Hello", "--attach", fs::canonical(letter).string(), "--to", "ana@example.org" }));
    harness.processes.exit(0);
    EXPECT_EQ(sent->json(), (Json { { "attached", true } }));
    EXPECT_EQ(harness.clock.pendingTimers(), 0u);

    // A helper that runs for a while and then fails: the page waits for it and gets the mail link.
    auto waiting = harness.send("composeEmail", Json::array({ Json { { "to", "ana@example.org" }, { "subject", "" }, { "path", letter.string() } } }));
    EXPECT_EQ(harness.processes.runs.back(), (std::vector<std::string> { "xdg-email", "--utf8", "--attach", fs::canonical(letter).string(), "--to", "ana@example.org" }));
    harness.clock.advance(std::chrono::minutes(5));
    EXPECT_EQ(waiting->calls, 0);
    EXPECT_TRUE(harness.workspace.uris.empty());
    harness.processes.exit(1);
    EXPECT_EQ(waiting->calls, 1);
    EXPECT_EQ(waiting->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.uris, std::vector<std::string> { "mailto:ana@example.org?subject=&body=" });
    EXPECT_EQ(harness.workspace.revealed, std::vector<fs::path> { fs::canonical(letter) });
}

TEST_F(DocumentCommandTest, EmailFallsBackToAMailLinkAndShowsTheFile)
{
    writeText(root() / "Ana" / "letter.pdf", "letter");

    harness.processes.installed = false;
    auto noHelper = harness.send("composeEmail", Json::array({ Json { { "to", "ana@example.org" }, { "subject", "A&B = ?" }, { "body", "Line 1\nLine 2" }, { "path", (root() / "Ana" / "letter.pdf").string() } } }));
    EXPECT_EQ(noHelper->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.uris, std::vector<std::string> { "mailto:ana@example.org?subject=A%26B%20%3D%20%3F&body=Line%201%0ALine%202" });
    EXPECT_EQ(harness.workspace.revealed, std::vector<fs::path> { fs::canonical(root() / "Ana" / "letter.pdf") });

    harness.processes.installed = true;
    auto failed = harness.send("composeEmail", Json::array({ Json { { "to", "" } } }));
    harness.processes.exit(3);
    EXPECT_EQ(failed->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.uris.back(), "mailto:?subject=&body=");
}

TEST_F(DocumentCommandTest, EmailRefusesSubjectsAndBodiesTheMailHelperWouldRewrite)
{
    struct Case {
        const char* subject;
        const char* body;
        const char* field;
    };
    for (const Case& refused : std::vector<Case> {
             { "a\\\\b", "", "subject" }, { "Two\nlines", "", "subject" }, { "Tab\there", "", "subject" }, { "Bell\a", "", "subject" },
             { "Del\x7F", "", "subject" }, { "Next\xC2\x85line", "", "subject" },
             { "", "Hi,\\\\x27,attachment=\\x27/etc/passwd", "message text" }, { "", "CR\r\nLF", "message text" }, { "", "Esc\x1B[0m", "message text" },
             { "", "C1\xC2\x9B", "message text" } }) {
        auto answer = harness.send("composeEmail", Json::array({ Json { { "to", "ana@example.org" }, { "subject", refused.subject }, { "body", refused.body } } }));
        EXPECT_EQ(answer->error, std::string("The e-mail wasn't opened, because its ") + refused.field + " holds a backslash or a control character. Nothing was sent.")
            << refused.subject << refused.body;
    }
    EXPECT_TRUE(harness.processes.runs.empty());
    EXPECT_TRUE(harness.workspace.uris.empty());

    // Lines and tabs in the body, and an apostrophe in the address, go through as they are.
    harness.send("composeEmail", Json::array({ Json { { "to", "siobhan.o'brien+visa@example.ie" }, { "subject", "Zoë's file: 50% done" }, { "body", "Dear Zoë,\n\tsee below." } } }));
    ASSERT_EQ(harness.processes.runs.size(), 1u);
    EXPECT_EQ(harness.processes.runs[0], (std::vector<std::string> { "xdg-email", "--utf8", "--subject", "Zoë's file: 50% done", "--body", "Dear Zoë,\n\tsee below.", "--to", "siobhan.o'brien+visa@example.ie" }));
}

TEST_F(DocumentCommandTest, AnAttachmentWithAQuoteInItsPathGoesAsAPrivateCopy)
{
    const fs::path letter = root() / "O'Brien, S" / "O'Brien's \"letter\".pdf";
    writeText(letter, "letter bytes");

    auto sent = harness.send("composeEmail", Json::array({ Json { { "path", letter.string() } } }));
    ASSERT_EQ(harness.processes.runs.size(), 1u);
    const auto& command = harness.processes.runs[0];
    ASSERT_EQ(command.size(), 4u);
    EXPECT_EQ(command[2], "--attach");
    const fs::path copy = command[3];
    EXPECT_EQ(copy.filename(), "OBriens letter.pdf");
    EXPECT_EQ(copy.parent_path().parent_path(), fs::canonical(fs::temp_directory_path()));
    EXPECT_TRUE(copy.parent_path().filename().string().starts_with("quillpost-mail-"));
    EXPECT_EQ(readText(copy), "letter bytes");
    struct stat folder {};
    ASSERT_EQ(::stat(copy.parent_path().c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u) << "only we may read the copy";
    harness.processes.exit(0);
    EXPECT_EQ(sent->json(), (Json { { "attached", true } }));

    // The mail client gets time to take the copy; then it goes.
    harness.clock.advance(std::chrono::minutes(119));
    EXPECT_TRUE(fs::exists(copy));
    harness.clock.advance(std::chrono::minutes(1));
    EXPECT_FALSE(fs::exists(copy.parent_path()));

    // Without the helper the original is shown to be attached by hand, and the copy goes at once.
    auto failed = harness.send("composeEmail", Json::array({ Json { { "path", letter.string() } } }));
    const fs::path secondCopy = harness.processes.runs.back()[3];
    EXPECT_TRUE(fs::exists(secondCopy));
    harness.processes.exit(3);
    EXPECT_EQ(failed->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.revealed.back(), fs::canonical(letter));
    EXPECT_FALSE(fs::exists(secondCopy.parent_path()));

    // Nor are two spaces in a row passed on.
    const fs::path spaced = root() / "Ana" / "two  spaces.pdf";
    writeText(spaced, "x");
    harness.send("composeEmail", Json::array({ Json { { "path", spaced.string() } } }));
    EXPECT_EQ(fs::path(harness.processes.runs.back()[3]).filename(), "two spaces.pdf");
    harness.processes.exit(0);
}

TEST_F(DocumentCommandTest, ReadsAnswerFromTheBackgroundQueueAndRefuseFilesOverTheLimit)
{
    writeText(root() / "Ana" / "letter.pdf", "%PDF-1.4 letter");
    auto answer = harness.send("readDocument", Json::array({ (root() / "Ana" / "letter.pdf").string() }));
    EXPECT_EQ(harness.clock.pendingBackgroundTasks(), 1u);
    harness.clock.runBackground();
    EXPECT_EQ(answer->calls, 0) << "the answer is the main thread's to give";
    harness.clock.runPosted();
    EXPECT_EQ(answer->json(), base64Encode("%PDF-1.4 letter"));

    // A sparse file one byte over the limit: refused from its size, nothing read.
    const fs::path huge = root() / "Ana" / "huge.pdf";
    writeText(huge, "");
    fs::resize_file(huge, Store::pageReadLimit + 1);
    const std::string message = "This file is larger than 256 MB, the most Quillpost reads in one piece, so it wasn't opened. The file is unchanged.";
    EXPECT_EQ(Store::pageReadLimitMessage(), message);
    EXPECT_EQ(read("readDocument", huge.string())->error, message);
    EXPECT_EQ(fs::file_size(huge), Store::pageReadLimit + 1);
}

TEST_F(DocumentCommandTest, TheReadLimitHoldsToTheByte)
{
    const fs::path folder = root() / "Ana";
    writeText(folder / "ten.pdf", "0123456789");
    for (const auto& [limit, outcome] : std::vector<std::pair<std::uint64_t, Store::PageRead::Outcome>> {
             { 10, Store::PageRead::Outcome::Read }, { 9, Store::PageRead::Outcome::TooLarge }, { 0, Store::PageRead::Outcome::TooLarge } }) {
        std::optional<Store::PageRead> read;
        harness.store().readBelow(root(), fs::canonical(folder / "ten.pdf"), [&](Store::PageRead result) { read = std::move(result); }, limit);
        harness.clock.runBackground();
        harness.clock.runPosted();
        ASSERT_TRUE(read) << limit;
        EXPECT_EQ(read->outcome, outcome) << limit;
        EXPECT_EQ(read->bytes, outcome == Store::PageRead::Outcome::Read ? "0123456789" : "") << limit;
    }
    // A link put in place of the checked file is not followed.
    fs::create_symlink(harness.path("data"), folder / "swapped.pdf");
    std::optional<Store::PageRead> swapped;
    harness.store().readBelow(root(), fs::canonical(folder) / "swapped.pdf", [&](Store::PageRead result) { swapped = std::move(result); });
    harness.clock.runBackground();
    harness.clock.runPosted();
    ASSERT_TRUE(swapped);
    EXPECT_EQ(swapped->outcome, Store::PageRead::Outcome::Refused);
}

}
}
