#include "bridge/DocumentCommands.h"
#include "common/Base64.h"
#include "doubles/CommandHarness.h"

#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

const std::string notAnAddress = "That isn't an email address.";

class DocumentCommandTest : public testing::Test {
protected:
    fs::path root() { return harness.store().docsRoot(); }

    std::shared_ptr<CommandAnswer> save(const std::string& client, const std::string& fileName, const std::string& bytes = "x", const std::string& sub = "")
    {
        Json document { { "client", client }, { "fileName", fileName }, { "bytes", base64Encode(bytes) } };
        if (!sub.empty())
            document["sub"] = sub;
        return harness.send("saveDocument", Json::array({ document }));
    }

    // Reads answer from the background queue, by way of the main queue.
    std::shared_ptr<CommandAnswer> read(const Json& path)
    {
        auto answer = harness.send("readDocument", Json::array({ path }));
        harness.clock.runBackground();
        harness.clock.runPosted();
        return answer;
    }

    // The plain answer of a command that takes one argument.
    std::optional<std::string> ask(const std::string& cmd, const Json& argument) { return harness.send(cmd, Json::array({ argument }))->result; }

    std::shared_ptr<CommandAnswer> email(const Json& message) { return harness.send("composeEmail", Json::array({ message })); }

    // The folder the page would remember for the client, given the folders other clients hold.
    Json claim(const std::string& client, const Json& held = Json::array(), bool create = true)
    {
        auto answer = harness.send("claimClientFolder", Json::array({ client, held, create }));
        EXPECT_TRUE(answer->result) << answer->error.value_or("");
        return answer->json();
    }

    std::vector<std::string> listed(const std::string& folder)
    {
        std::vector<std::string> names;
        const Json listing = harness.send("listDocuments", Json::array({ folder }))->json();
        for (const auto& file : listing["files"])
            names.push_back(file["name"]);
        std::sort(names.begin(), names.end());
        return names;
    }

    CommandHarness harness;
};

TEST_F(DocumentCommandTest, SavedDocumentsAreFiledPerClientUnderNamesOfTheirOwn)
{
    auto first = save("..Smith: J/K", "Passport SCAN.JPEG", "first", "Forms");
    ASSERT_TRUE(first->result) << first->error.value_or("");
    EXPECT_EQ(first->json(), (Json { { "path", (root() / "Smith JK" / "Forms" / "Passport SCAN.jpeg").string() }, { "name", "Passport SCAN.jpeg" }, { "size", 5 } }));
    EXPECT_EQ(save("..Smith: J/K", "Passport SCAN.JPEG", "b", "Forms")->json()["name"], "Passport SCAN (2).jpeg");
    EXPECT_EQ(save("..Smith: J/K", "Passport SCAN.JPEG", "c", "Forms")->json()["name"], "Passport SCAN (3).jpeg");
    EXPECT_EQ(readText(root() / "Smith JK" / "Forms" / "Passport SCAN.jpeg"), "first");

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
    fs::create_directories(harness.path("elsewhere"));
    fs::create_directories(root());
    fs::create_symlink(harness.path("elsewhere"), root() / "Bea");
    EXPECT_TRUE(save("Bea", "x.pdf")->error.value_or("").starts_with("Couldn't create the folder"));
    EXPECT_TRUE(fs::is_empty(harness.path("elsewhere")));

    // A documents root that can't be written: a clear failure. (Root ignores permissions.)
    if (::geteuid() != 0) {
        fs::create_directories(root() / "Cara");
        fs::permissions(root() / "Cara", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_TRUE(save("Cara", "x.pdf")->error.value_or("").starts_with("Couldn't write"));
        fs::permissions(root() / "Cara", fs::perms::owner_all);
    }
    auto noRoot = CommandHarness();
    noRoot.store().config()["docsRoot"] = "/proc/quillpost-cannot-be-here";
    for (const auto& [cmd, args] : { std::pair { "saveDocument", Json::array({ Json { { "client", "Ana" }, { "bytes", "" } } }) },
             std::pair { "claimClientFolder", Json::array({ "Gil" }) } })
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
    std::vector<std::string> names;
    for (const auto& file : listing["files"])
        names.push_back(file["name"]);
    // The link is listed as itself (with its own time) and never walked into.
    std::erase(names, "data-link");
    EXPECT_EQ(names, (std::vector<std::string> { "one.pdf", "three.pdf", "same-a.pdf", "same-b.pdf", "top.pdf" }));
    const auto entry = [&listing](const std::string& name) {
        return *std::find_if(listing["files"].begin(), listing["files"].end(), [&name](const Json& file) { return file["name"] == name; });
    };
    const Json three = entry("three.pdf");
    EXPECT_EQ(three["folder"], "a/b/c");
    EXPECT_EQ(three["size"], 1);
    EXPECT_EQ(three["path"], (client / "a" / "b" / "c" / "three.pdf").string());
    EXPECT_TRUE(std::regex_match(three["modified"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(entry("top.pdf")["folder"], "");

    EXPECT_EQ(harness.send("listDocuments", Json::array({ "Nobody" }))->json(),
        (Json { { "exists", false }, { "files", Json::array() }, { "base", (root() / "Nobody").string() } }));
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
    ASSERT_EQ(::mkfifo((root() / "Ana" / "pipe.pdf").c_str(), 0600), 0);

    const std::string link = (root() / "Ana" / "link.pdf").string();
    const std::vector<std::string> outside {
        root().string(), root().string() + "/", "/etc/hosts", harness.path("secret.pdf").string(),
        (root() / ".." / "secret.pdf").string(), link,
        (root() / "Ana" / "up" / "secret.pdf").string(), (root().parent_path() / "Clients2" / "other.pdf").string(),
        "Ana/letter.pdf", "", std::string("/etc/hosts\0.pdf", 15),
    };
    harness.workspace.trash = harness.path("Trash");
    for (const auto& path : outside) {
        EXPECT_EQ(read(path)->error, "Not allowed") << path;
        EXPECT_EQ(ask("openDocument", path), "false") << path;
        EXPECT_EQ(ask("revealDocument", path), "false") << path;
        // A link inside a client's folder is trashed as itself, never what it points at.
        if (path != link) {
            EXPECT_EQ(ask("deleteDocument", path), "false") << path;
        }
        // An empty path is no attachment.
        if (!path.empty()) {
            EXPECT_EQ(email(Json { { "path", path } })->error, "Not allowed") << path;
        }
    }
    EXPECT_TRUE(harness.workspace.opened.empty());
    EXPECT_TRUE(harness.workspace.revealed.empty());
    EXPECT_TRUE(harness.workspace.trashed.empty());
    EXPECT_TRUE(harness.processes.runs.empty());
    EXPECT_EQ(readText(harness.path("secret.pdf")), "secret");
    // Nor is anything read that isn't a file there; a named pipe would block a reader for ever.
    for (const fs::path& path : { root() / "Ana" / "missing.pdf", root() / "Ana", root() / "Ana" / "pipe.pdf" })
        EXPECT_EQ(read(path.string())->error, "Not allowed") << path;
}

TEST_F(DocumentCommandTest, OpenRevealAndTrashDocumentsInsideTheRoot)
{
    const fs::path letter = root() / "Ana" / "letter.PDF";
    writeText(letter, "letter");
    writeText(root() / "Ana" / "run.sh", "#!/bin/sh");
    writeText(root() / "Ana" / "page.html", "<p>");
    fs::create_symlink(root() / "Ana" / "run.sh", root() / "Ana" / "looks-like.pdf");

    EXPECT_EQ(ask("openDocument", letter.string()), "true");
    for (const auto* refused : { "run.sh", "page.html", "looks-like.pdf", "absent.pdf" })
        EXPECT_EQ(ask("openDocument", (root() / "Ana" / refused).string()), "false") << refused;
    EXPECT_EQ(harness.workspace.opened, std::vector<fs::path> { fs::canonical(letter) });
    EXPECT_EQ(ask("revealDocument", letter.string()), "true");
    EXPECT_EQ(harness.workspace.revealed, std::vector<fs::path> { fs::canonical(letter) });

    // A volume without a Trash: the file stays.
    EXPECT_EQ(ask("deleteDocument", letter.string()), "false");
    EXPECT_TRUE(fs::exists(letter));
    harness.workspace.trash = harness.path("Trash");
    EXPECT_EQ(ask("deleteDocument", letter.string()), "true");
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

    // The item must lie in a folder inside the root: through a linked folder, the root itself,
    // names that aren't an item, and missing items are refused.
    fs::create_symlink(root() / "Beta", root() / "Alpha" / "beta-folder");
    fs::create_symlink(harness.path(""), root() / "Alpha" / "up");
    for (const fs::path& refused : { root() / "Alpha" / "up" / "secret.pdf", root() / "Alpha" / "beta-folder" / "b.pdf", root() / "Alpha",
             root() / "Alpha" / "Scans" / "..", root() / "Alpha" / "Scans" / ".", root() / "Alpha" / "missing.pdf",
             fs::path(root().string() + "/Alpha/Scans/"), fs::path("Alpha/link.pdf") })
        EXPECT_EQ(ask("deleteDocument", refused.string()), "false") << refused;
    EXPECT_TRUE(harness.workspace.trashed.empty());

    for (const auto* link : { "link.pdf", "Scans/out.pdf" }) {
        EXPECT_EQ(ask("deleteDocument", (root() / "Alpha" / link).string()), "true") << link;
        EXPECT_FALSE(fs::exists(fs::symlink_status(root() / "Alpha" / link))) << link;
    }
    EXPECT_EQ(readText(root() / "Beta" / "b.pdf"), "Beta's document");
    EXPECT_EQ(readText(harness.path("secret.pdf")), "secret");
    EXPECT_TRUE(fs::is_symlink(harness.path("Trash/link.pdf")));
    EXPECT_TRUE(fs::is_symlink(harness.path("Trash/out.pdf")));
    EXPECT_TRUE(fs::is_directory(root() / "Alpha" / "Scans"));
}

TEST_F(DocumentCommandTest, ClientFolderAndOpenFolder)
{
    EXPECT_EQ(harness.send("clientFolder", Json::array({ "Ana Lima", "..", true }))->json(), (root() / "Ana Lima" / "Untitled").string());
    EXPECT_TRUE(fs::is_directory(root() / "Ana Lima" / "Untitled"));
    EXPECT_EQ(harness.workspace.opened, std::vector<fs::path> { root() / "Ana Lima" / "Untitled" });
    EXPECT_EQ(harness.send("clientFolder")->json(), (root() / "Untitled").string());
    EXPECT_EQ(harness.workspace.opened.size(), 1u);

    EXPECT_EQ(ask("openFolder", harness.path("data").string()), "true");
    EXPECT_EQ(ask("openFolder", harness.path("nowhere").string()), "false");
    EXPECT_EQ(ask("openFolder", 7), "false");
}

TEST_F(DocumentCommandTest, NamesakesGetFoldersOfTheirOwnAndNeverSeeEachOthersDocuments)
{
    const std::string first = claim("Ana Lima");
    const std::string second = claim("Ana Lima", Json::array({ first }));
    EXPECT_EQ(first, "Ana Lima");
    EXPECT_EQ(second, "Ana Lima (2)");
    EXPECT_EQ(claim("Ana Lima", Json::array({ first, second })), "Ana Lima (3)");
    save(first, "mine.pdf");
    save(second, "hers.pdf");
    EXPECT_EQ(listed(first), std::vector<std::string> { "mine.pdf" });
    EXPECT_EQ(listed(second), std::vector<std::string> { "hers.pdf" });
    EXPECT_TRUE(listed("Ana Lima (3)").empty());
}

TEST_F(DocumentCommandTest, AFolderFiledUnderTheNameIsAdoptedOnlyWhileNoOneHoldsIt)
{
    writeText(root() / "Bea" / "passport.pdf", "x");
    writeText(root() / "Cara (2)" / "old.pdf", "x");
    fs::create_directories(harness.path("elsewhere"));
    fs::create_symlink(harness.path("elsewhere"), root() / "Dan");
    struct Case {
        const char* client;
        Json held;
        Json folder;
    };
    const Case cases[] = {
        { "Bea", Json::array(), "Bea" },
        // Held names are read as folder names, as saveDocument would make them.
        { "Bea", Json::array({ "Bea" }), "Bea (2)" },
        { "Bea", Json::array({ "Bea/" }), "Bea (3)" },
        // A numbered folder that is someone else's is skipped, never shared.
        { "Cara", Json::array({ "Cara" }), "Cara (3)" },
        // A link is no one's folder.
        { "Dan", Json::array(), "Dan (2)" },
        { "..Smith: J/K", Json::array(), "Smith JK" },
        { "../../outside", Json::array(), "outside" },
        { "", Json::array(), "Untitled" },
    };
    for (const auto& [client, held, folder] : cases) {
        EXPECT_EQ(claim(client, held), folder) << client << " " << held;
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(root() / folder.get<std::string>()))) << folder;
    }
    EXPECT_TRUE(fs::exists(root() / "Bea" / "passport.pdf"));
    EXPECT_TRUE(fs::is_empty(harness.path("elsewhere")));
    EXPECT_FALSE(fs::exists(root().parent_path() / "outside"));
    EXPECT_FALSE(fs::exists(root().parent_path().parent_path() / "outside"));

    // Odd arguments read as none.
    writeText(root() / "Fay" / "a.pdf", "x");
    EXPECT_EQ(harness.send("claimClientFolder", Json::array({ "Fay", "Fay" }))->json(), "Fay");
    EXPECT_EQ(harness.send("claimClientFolder", Json::array({ "Fay", Json::array({ 7, nullptr, "Fay" }) }))->json(), "Fay (2)");
    EXPECT_EQ(harness.send("claimClientFolder")->json(), "Untitled");
}

TEST_F(DocumentCommandTest, WithoutCreatingOnlyAnUnheldFolderOfTheNameIsAnswered)
{
    EXPECT_EQ(claim("Eve", Json::array(), false), Json());
    EXPECT_FALSE(fs::exists(root()));
    writeText(root() / "Eve" / "a.pdf", "x");
    EXPECT_EQ(claim("Eve", Json::array(), false), "Eve");
    EXPECT_EQ(claim("Eve", Json::array({ "Eve" }), false), Json());
    EXPECT_FALSE(fs::exists(root() / "Eve (2)"));
}

TEST_F(DocumentCommandTest, EmailGoesThroughTheMailHelperWithTheAttachment)
{
    const fs::path letter = root() / "Ana" / "letter.pdf";
    writeText(letter, "letter");
    for (const auto* bad : { "a@x.org, b@y.org", "a@@x.org", "@x.org", "a@", "a b@x.org", "a@x.org;b@y.org", "<a@x.org>", "a\\x2c@x.org",
             "a\xC2\xA0@x.org", "plain", "a%2c@x.org", "a=b@x.org", "\"a\"@x.org", ".a@x.org", "a.@x.org", "a..b@x.org", "a@-x.org", "a@x-.org",
             "a@x..org", "a@x.org.", "a@x_y.org", "a\xE2\x80\x83" "b@x.org", "a@x.org\xC2\x85", "a\t@x.org" })
        EXPECT_EQ(email(Json { { "to", bad } })->error, notAnAddress) << bad;

    auto sent = email(Json { { "to", "ana@example.org" }, { "subject", "Your file" }, { "body", "Hello" }, { "path", letter.string() } });
    EXPECT_EQ(sent->calls, 0);
    ASSERT_EQ(harness.processes.runs.size(), 1u);
    EXPECT_EQ(harness.processes.runs[0], (std::vector<std::string> { "xdg-email", "--utf8", "--subject", "Your file", "--body", "Hello", "--attach", fs::canonical(letter).string(), "--to", "ana@example.org" }));
    harness.processes.exit(0);
    EXPECT_EQ(sent->json(), (Json { { "attached", true } }));
    EXPECT_EQ(harness.clock.pendingTimers(), 0u);

    // A helper that runs for a while and then fails: the page waits for it and gets the mail link.
    auto waiting = email(Json { { "to", "ana@example.org" }, { "subject", "" }, { "path", letter.string() } });
    EXPECT_EQ(harness.processes.runs.back(), (std::vector<std::string> { "xdg-email", "--utf8", "--attach", fs::canonical(letter).string(), "--to", "ana@example.org" }));
    harness.clock.advance(std::chrono::minutes(5));
    EXPECT_EQ(waiting->calls, 0);
    EXPECT_TRUE(harness.workspace.uris.empty());
    harness.processes.exit(1);
    EXPECT_EQ(waiting->calls, 1);
    EXPECT_EQ(waiting->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.uris, std::vector<std::string> { "mailto:ana@example.org?subject=&body=" });
    EXPECT_EQ(harness.workspace.revealed, std::vector<fs::path> { fs::canonical(letter) });

    // Without the helper the link carries the subject and body, escaped.
    harness.processes.installed = false;
    harness.workspace.revealed.clear();
    auto noHelper = email(Json { { "to", "ana@example.org" }, { "subject", "A&B = ?" }, { "body", "Line 1\nLine 2" }, { "path", letter.string() } });
    EXPECT_EQ(noHelper->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.uris.back(), "mailto:ana@example.org?subject=A%26B%20%3D%20%3F&body=Line%201%0ALine%202");
    EXPECT_EQ(harness.workspace.revealed, std::vector<fs::path> { fs::canonical(letter) });
    harness.processes.installed = true;
    auto noAddress = email(Json { { "to", "" } });
    harness.processes.exit(3);
    EXPECT_EQ(noAddress->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.uris.back(), "mailto:?subject=&body=");
}

TEST_F(DocumentCommandTest, EmailRefusesSubjectsAndBodiesTheMailHelperWouldRewrite)
{
    for (const auto& [subject, body, field] : std::vector<std::tuple<std::string, std::string, std::string>> {
             { "a\\\\b", "", "subject" }, { "Two\nlines", "", "subject" }, { "Tab\there", "", "subject" }, { "Bell\a", "", "subject" },
             { "Del\x7F", "", "subject" }, { "Next\xC2\x85line", "", "subject" },
             { "", "Hi,\\\\x27,attachment=\\x27/etc/passwd", "message text" }, { "", "CR\r\nLF", "message text" }, { "", "Esc\x1B[0m", "message text" },
             { "", "C1\xC2\x9B", "message text" } }) {
        auto answer = email(Json { { "to", "ana@example.org" }, { "subject", subject }, { "body", body } });
        EXPECT_EQ(answer->error, "The e-mail wasn't opened, because its " + field + " holds a backslash or a control character. Nothing was sent.") << subject << body;
    }
    EXPECT_TRUE(harness.processes.runs.empty());
    EXPECT_TRUE(harness.workspace.uris.empty());

    // Lines and tabs in the body, and an apostrophe in the address, go through as they are.
    email(Json { { "to", "siobhan.o'brien+visa@example.ie" }, { "subject", "Zoë's file: 50% done" }, { "body", "Dear Zoë,\n\tsee below." } });
    ASSERT_EQ(harness.processes.runs.size(), 1u);
    EXPECT_EQ(harness.processes.runs[0], (std::vector<std::string> { "xdg-email", "--utf8", "--subject", "Zoë's file: 50% done", "--body", "Dear Zoë,\n\tsee below.", "--to", "siobhan.o'brien+visa@example.ie" }));
}

TEST_F(DocumentCommandTest, AnAttachmentWithAQuoteInItsPathGoesAsAPrivateCopy)
{
    const fs::path letter = root() / "O'Brien, S" / "O'Brien's \"letter\".pdf";
    writeText(letter, "letter bytes");
    auto sent = email(Json { { "path", letter.string() } });
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
    auto failed = email(Json { { "path", letter.string() } });
    const fs::path secondCopy = harness.processes.runs.back()[3];
    EXPECT_TRUE(fs::exists(secondCopy));
    harness.processes.exit(3);
    EXPECT_EQ(failed->json(), (Json { { "attached", false } }));
    EXPECT_EQ(harness.workspace.revealed.back(), fs::canonical(letter));
    EXPECT_FALSE(fs::exists(secondCopy.parent_path()));

    // Nor are two spaces in a row passed on.
    writeText(root() / "Ana" / "two  spaces.pdf", "x");
    email(Json { { "path", (root() / "Ana" / "two  spaces.pdf").string() } });
    EXPECT_EQ(fs::path(harness.processes.runs.back()[3]).filename(), "two spaces.pdf");
    harness.processes.exit(0);
}

TEST_F(DocumentCommandTest, ReadsAnswerFromTheBackgroundQueueWithinTheLimitToTheByte)
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
    EXPECT_EQ(read(huge.string())->error, Store::pageReadLimitMessage());

    const fs::path folder = fs::canonical(root() / "Ana");
    writeText(folder / "ten.pdf", "0123456789");
    // A link put in place of the checked file is not followed.
    fs::create_symlink(harness.path("data"), folder / "swapped.pdf");
    using Outcome = Store::PageRead::Outcome;
    for (const auto& [name, limit, outcome] : std::vector<std::tuple<std::string, std::uint64_t, Outcome>> {
             { "ten.pdf", 10, Outcome::Read }, { "ten.pdf", 9, Outcome::TooLarge }, { "ten.pdf", 0, Outcome::TooLarge }, { "swapped.pdf", 10, Outcome::Refused } }) {
        std::optional<Store::PageRead> got;
        harness.store().readBelow(root(), folder / name, [&](Store::PageRead result) { got = std::move(result); }, limit);
        harness.clock.runBackground();
        harness.clock.runPosted();
        ASSERT_TRUE(got) << name << limit;
        EXPECT_EQ(got->outcome, outcome) << name << limit;
        EXPECT_EQ(got->bytes, outcome == Outcome::Read ? "0123456789" : "") << name << limit;
    }
}

}
}
