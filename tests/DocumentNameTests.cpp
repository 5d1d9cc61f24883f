#include "common/Base64.h"
#include "common/Uuid.h"
#include "doubles/TemporaryFolder.h"
#include "store/Containment.h"
#include "store/Store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <regex>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

std::string repeated(std::string_view piece, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

TEST(SafeName, CleansFolderAndFileNamesToEightyCharactersWithinAFileName)
{
    const std::string emoji = repeated("\xF0\x9F\x93\x84", 100);
    const std::string accented = std::string(79, 'a').append("\xC3\xA9\xC3\xA9");
    const std::pair<std::string, std::string> cases[] = {
        { " ..Smith: J/K ", "Smith JK" }, { "Ana \t\n  Lima", "Ana Lima" }, { "a\\b*c?d\"e<f>g|h", "abcdefgh" },
        { "Ana\xC2\xA0\xE2\x80\x83Lima", "Ana Lima" }, // no-break and em spaces
        { "O'Brien, Seán", "O'Brien, Seán" },
        // No space is left at either end: not behind leading dots, not where the length cut falls.
        { ".. _ Ana", "_ Ana" }, { std::string(79, 'x').append(" tail"), std::string(79, 'x') },
        { "", "Untitled" }, { "...", "Untitled" }, { "  ", "Untitled" }, { "\x01\x02\x1f", "Untitled" }, { "/", "Untitled" }, { "//..//", "Untitled" },
        { "a\0b\x7f" "c\xC2\x9B" "d"s, "abcd" },
        { "caf\xE9", "caf\xEF\xBF\xBD" },
        { std::string(100, 'x'), std::string(80, 'x') },
        // Eighty four-byte characters would pass the file system's 255-byte limit once an extension
        // and a " (2)" are added; whole characters are kept within 200 bytes.
        { emoji, emoji.substr(0, 200) }, { accented, accented.substr(0, 81) },
    };
    for (const auto& [name, cleaned] : cases)
        EXPECT_EQ(Store::safeName(name), cleaned) << name;
    EXPECT_EQ(Store::safeName(std::nullopt), "Untitled");

    // A file keeps its base and a short lower-case extension.
    const std::pair<std::string, std::string> files[] = {
        { "Passport SCAN.JPEG", "Passport SCAN.jpeg" }, { "README", "README" }, { "x.tar.gz", "x.tar.gz" }, { "a/b.pdf", "b.pdf" },
        { "../../etc/passwd", "passwd" }, { "sheet.numbers", "sheet.number" }, { "letter.p-d_f!", "letter.pdf" }, { ".bashrc", "bashrc" },
        { "...", "Untitled" }, { "", "Untitled" }, { "..pdf", "Untitled.pdf" }, { "scan.\xC3\xA9t\xC3\xA9", "scan.t" },
        { std::string(300, 'n').append(".PDF"), std::string(80, 'n').append(".pdf") },
    };
    for (const auto& [name, safe] : files)
        EXPECT_EQ(Store::safeFile(name), safe) << name;
}

TEST(NumberedName, KeepsTheNumberWithinWhatSafeNameLeavesAlone)
{
    const std::string emoji = repeated("\xF0\x9F\x93\x84", 50);
    const std::tuple<std::string, int, std::string> cases[] = {
        { "Ana Lima", 2, "Ana Lima (2)" }, { "Ana Lima", 12, "Ana Lima (12)" },
        { std::string(80, 'x'), 2, std::string(76, 'x') + " (2)" }, { std::string(80, 'x'), 100, std::string(74, 'x') + " (100)" },
        { std::string(75, 'x').append(" yyyy"), 2, std::string(75, 'x') + " (2)" }, { emoji, 2, emoji.substr(0, 196) + " (2)" },
    };
    for (const auto& [base, number, expected] : cases) {
        EXPECT_EQ(Store::numberedName(base, number), expected) << base;
        EXPECT_EQ(Store::safeName(expected), expected) << base;
    }
}

TEST(UniquePath, NumbersTakenNamesBeforeTheExtension)
{
    TemporaryFolder folder;
    fs::create_symlink("/nonexistent/target", folder / "link.pdf");
    for (const auto& [name, unique] : { std::pair { "scan.pdf", "scan.pdf" }, { "scan.pdf", "scan (2).pdf" }, { "scan.pdf", "scan (3).pdf" },
             { "notes", "notes" }, { "notes", "notes (2)" }, { "x.tar.gz", "x.tar.gz" }, { "x.tar.gz", "x.tar (2).gz" }, { "link.pdf", "link (2).pdf" } }) {
        EXPECT_EQ(Store::uniquePath(folder.path(), name), folder / unique);
        writeText(folder / unique, "");
    }
}

TEST(Base64, RoundTripsEveryByteAndRejectsWhatIsNotStrictBase64)
{
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all += static_cast<char>(byte);
    for (size_t length = 0; length <= all.size(); length += 37)
        EXPECT_EQ(base64Decode(base64Encode(all.substr(0, length))), all.substr(0, length));
    for (const auto& [text, encoded] : { std::pair { "Man", "TWFu" }, { "Ma", "TWE=" }, { "M", "TQ==" } })
        EXPECT_EQ(base64Encode(text), encoded);
    for (const auto* bad : { "TWFu\n", "TWE", "TW=u", "T===", "====", "TWFu TWFu", "TWE-", "TR==", "TWF=", "<html>", "\xF0\x9F\x98\x80" "AAA" })
        EXPECT_FALSE(base64Decode(bad)) << bad;
}

class ContainmentTest : public testing::Test {
protected:
    ContainmentTest()
    {
        writeText(m_root / "Ana" / "Forms" / "imm5257.pdf", "form");
        writeText(m_folder / "secret.txt", "secret");
        writeText(m_folder / "Clients2" / "other.pdf", "other");
    }

    TemporaryFolder m_folder { "quillpost-containment" };
    const fs::path m_root { m_folder / "Clients" };
};

TEST_F(ContainmentTest, AcceptsOnlyPathsStrictlyBelowTheRootWhereverLinksLead)
{
    fs::create_symlink(m_folder / "secret.txt", m_root / "Ana" / "letter.pdf");
    fs::create_symlink(m_folder.path(), m_root / "Ana" / "up");
    fs::create_symlink(m_root / "Ana" / "Forms", m_root / "forms-link");
    fs::create_symlink("missing-target", m_root / "dangling.pdf");
    fs::create_symlink("loop", m_root / "loop");
    fs::create_symlink(m_root, m_folder / "root-link");
    const fs::path root = fs::canonical(m_root);
    const std::pair<fs::path, std::optional<fs::path>> cases[] = {
        { m_root / "Ana", root / "Ana" },
        { m_root / "Ana" / "Forms" / "imm5257.pdf", root / "Ana" / "Forms" / "imm5257.pdf" },
        { m_root / "Ana" / "not-yet-there.pdf", root / "Ana" / "not-yet-there.pdf" },
        { m_root / "Ana" / "." / "Forms" / ".." / "Forms" / "imm5257.pdf", root / "Ana" / "Forms" / "imm5257.pdf" },
        { m_root / "Ana" / "Forms" / ".." / "x.pdf", root / "Ana" / "x.pdf" },
        // Read as text, forms-link/../.. would be the folder above the root; the link leads two levels down.
        { m_root / "forms-link" / ".." / ".." / "x.pdf", root / "x.pdf" },
        { m_root / "forms-link" / ".." / "Forms" / "imm5257.pdf", root / "Ana" / "Forms" / "imm5257.pdf" },
        { m_root / "forms-link" / "imm5257.pdf", root / "Ana" / "Forms" / "imm5257.pdf" },
        { m_folder / "root-link" / "Ana", root / "Ana" },
        { m_root, std::nullopt }, { m_root.string() + "/", std::nullopt }, { m_root / ".", std::nullopt }, { m_root / "Ana" / "..", std::nullopt },
        { m_root / ".." / "secret.txt", std::nullopt }, { m_root / "Ana" / ".." / ".." / "secret.txt", std::nullopt },
        { m_root / "missing" / ".." / ".." / "secret.txt", std::nullopt }, { m_folder / "Clients2" / "other.pdf", std::nullopt },
        { m_folder / "Clients2", std::nullopt }, { "/etc/hosts", std::nullopt }, { "Ana/Forms/imm5257.pdf", std::nullopt }, { "", std::nullopt },
        // Text after a NUL would be checked but never reach the system call.
        { m_root.string() + "/Ana" + std::string("\0/../../secret.txt", 18), std::nullopt },
        // A link in the middle of the path, and a ".." after a link, climb from the link's target.
        { m_root / "Ana" / "letter.pdf", std::nullopt }, { m_root / "Ana" / "up" / "secret.txt", std::nullopt },
        { m_root / "Ana" / "up" / "Clients2" / "other.pdf", std::nullopt }, { m_root / "dangling.pdf", std::nullopt }, { m_root / "loop", std::nullopt },
    };
    for (const auto& [path, resolved] : cases)
        EXPECT_EQ(resolveInside(m_root, path), resolved) << path;

    // A root reached through a link is the folder it leads to; a root that does not exist holds nothing.
    EXPECT_EQ(resolveInside(m_folder / "root-link", m_root / "Ana" / "Forms" / "imm5257.pdf"), root / "Ana" / "Forms" / "imm5257.pdf");
    EXPECT_FALSE(resolveInside(m_folder / "root-link", m_folder / "root-link"));
    EXPECT_FALSE(resolveInside(m_folder / "nowhere", m_folder / "nowhere" / "a.pdf"));
}

TEST_F(ContainmentTest, OpeningRefusesALinkSwappedInAfterTheCheck)
{
    const auto checked = resolveInside(m_root, m_root / "Ana" / "Forms" / "imm5257.pdf");
    ASSERT_TRUE(checked);
    FileDescriptor before = openBelow(m_root, *checked, O_RDONLY);
    ASSERT_TRUE(before);

    // Between the check and the open, the folder becomes a link to a folder outside the root that
    // holds a file of the same name.
    fs::create_directories(m_folder / "outside");
    writeText(m_folder / "outside" / "imm5257.pdf", "not yours");
    fs::rename(m_root / "Ana" / "Forms", m_root / "Ana" / "Forms.old");
    fs::create_symlink(m_folder / "outside", m_root / "Ana" / "Forms");
    FileDescriptor after = openBelow(m_root, *checked, O_RDONLY);
    EXPECT_FALSE(after);
    EXPECT_TRUE(errno == ELOOP || errno == ENOTDIR) << errno;

    fs::remove(m_root / "Ana" / "Forms");
    fs::rename(m_root / "Ana" / "Forms.old", m_root / "Ana" / "Forms");
    fs::remove(m_root / "Ana" / "Forms" / "imm5257.pdf");
    fs::create_symlink(m_folder / "secret.txt", m_root / "Ana" / "Forms" / "imm5257.pdf");
    EXPECT_FALSE(openBelow(m_root, *checked, O_RDONLY));

    EXPECT_FALSE(openBelow(m_root, m_folder / "secret.txt", O_RDONLY));
    // Nor is the root itself, even when it holds an entry of its own name.
    writeText(m_root / fs::canonical(m_root).filename(), "a namesake");
    EXPECT_FALSE(openBelow(m_root, fs::canonical(m_root), O_RDONLY));
}

TEST_F(ContainmentTest, MakingFoldersNeverFollowsALink)
{
    FileDescriptor made = makeFoldersBelow(m_root, { "Bea", "Letters" });
    EXPECT_TRUE(made);
    EXPECT_TRUE(fs::is_directory(m_root / "Bea" / "Letters"));
    EXPECT_TRUE(makeFoldersBelow(m_root, { "Bea", "Letters" }));

    fs::create_symlink(m_folder / "Clients2", m_root / "Cara");
    EXPECT_FALSE(makeFoldersBelow(m_root, { "Cara", "Forms" }));
    EXPECT_FALSE(fs::exists(m_folder / "Clients2" / "Forms"));
    for (const auto* name : { "..", ".", "", "a/b" })
        EXPECT_FALSE(makeFoldersBelow(m_root, { name })) << name;
    EXPECT_FALSE(fs::exists(m_folder / "a"));
}

}
}

TEST(RandomUuid, IsAVersionFourUuidInItsStandardForm)
{
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    const auto first = quillpost::randomUuid();
    EXPECT_TRUE(std::regex_match(first, form)) << first;
    EXPECT_NE(quillpost::randomUuid(), first);
}
