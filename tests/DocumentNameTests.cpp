#include "common/Base64.h"
#include "doubles/TemporaryFolder.h"
#include "store/Store.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

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
        // Controls are removed, not turned into spaces; DEL and C1 controls too.
        { "a\0b\x7f" "c\xC2\x9B" "d"s, "abcd" },
        // Bytes that are not UTF-8 become U+FFFD rather than half a character.
        { "caf\xE9", "caf\xEF\xBF\xBD" },
        { std::string(100, 'x'), std::string(80, 'x') }, { std::string(300, 'y'), std::string(80, 'y') },
        // Eighty four-byte characters would pass the file system's 255-byte limit once an extension
        // and a " (2)" are added; whole characters are kept within 200 bytes.
        { emoji, emoji.substr(0, 200) }, { accented, accented.substr(0, 81) },
    };
    for (const auto& [name, cleaned] : cases)
        EXPECT_EQ(Store::safeName(name), cleaned) << name;
    EXPECT_EQ(Store::safeName(std::nullopt), "Untitled");
}

TEST(NumberedName, KeepsTheNumberWithinWhatSafeNameLeavesAlone)
{
    // The expected name is the base's first `kept` bytes and the number.
    struct Case {
        std::string base;
        int number;
        size_t kept;
        const char* suffix;
    };
    const std::vector<Case> cases {
        { "Ana Lima", 2, 8, " (2)" },
        { "Ana Lima", 12, 8, " (12)" },
        { std::string(80, 'x'), 2, 76, " (2)" },
        { std::string(80, 'x'), 100, 74, " (100)" },
        // A cut that ends on a space would leave two spaces, which safeName would fold.
        { std::string(75, 'x').append(" yyyy"), 2, 75, " (2)" },
    };
    for (const auto& [base, number, kept, suffix] : cases) {
        const std::string numbered = Store::numberedName(base, number);
        EXPECT_EQ(numbered, base.substr(0, kept).append(suffix));
        EXPECT_EQ(Store::safeName(numbered), numbered);
    }
    const std::string numbered = Store::numberedName(repeated("\xF0\x9F\x93\x84", 50), 2);
    EXPECT_LE(numbered.size(), 200u);
    EXPECT_TRUE(numbered.ends_with(" (2)"));
    EXPECT_EQ(Store::safeName(numbered), numbered);
}

TEST(SafeFile, KeepsTheBaseAndAShortLowerCaseExtension)
{
    const std::pair<std::string, std::string> cases[] = {
        { "Passport SCAN.JPEG", "Passport SCAN.jpeg" }, { "README", "README" }, { "x.tar.gz", "x.tar.gz" }, { "a/b.pdf", "b.pdf" },
        { "../../etc/passwd", "passwd" }, { "sheet.numbers", "sheet.number" }, { "letter.p-d_f!", "letter.pdf" }, { ".bashrc", "bashrc" },
        { "...", "Untitled" }, { "", "Untitled" }, { "..pdf", "Untitled.pdf" }, { "scan.\xC3\xA9t\xC3\xA9", "scan.t" },
        { std::string(300, 'n').append(".PDF"), std::string(80, 'n').append(".pdf") },
    };
    for (const auto& [name, safe] : cases)
        EXPECT_EQ(Store::safeFile(name), safe) << name;
}

TEST(UniquePath, NumbersTakenNamesBeforeTheExtension)
{
    TemporaryFolder folder;
    EXPECT_EQ(Store::uniquePath(folder.path(), "scan.pdf"), folder / "scan.pdf");
    writeText(folder / "scan.pdf", "1");
    EXPECT_EQ(Store::uniquePath(folder.path(), "scan.pdf"), folder / "scan (2).pdf");
    writeText(folder / "scan (2).pdf", "2");
    EXPECT_EQ(Store::uniquePath(folder.path(), "scan.pdf"), folder / "scan (3).pdf");
    writeText(folder / "notes", "");
    EXPECT_EQ(Store::uniquePath(folder.path(), "notes"), folder / "notes (2)");
    writeText(folder / "x.tar.gz", "");
    EXPECT_EQ(Store::uniquePath(folder.path(), "x.tar.gz"), folder / "x.tar (2).gz");
    // A dangling link takes its name too: writing through it would land wherever it points.
    std::filesystem::create_symlink("/nonexistent/target", folder / "link.pdf");
    EXPECT_EQ(Store::uniquePath(folder.path(), "link.pdf"), folder / "link (2).pdf");
}

TEST(Base64, RoundTripsEveryByteAndRejectsWhatIsNotStrictBase64)
{
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all += static_cast<char>(byte);
    for (size_t length = 0; length <= all.size(); length += 37)
        EXPECT_EQ(base64Decode(base64Encode(all.substr(0, length))), all.substr(0, length));
    EXPECT_EQ(base64Encode("Man"), "TWFu");
    EXPECT_EQ(base64Encode("Ma"), "TWE=");
    EXPECT_EQ(base64Encode("M"), "TQ==");
    EXPECT_EQ(base64Decode(""), std::string());
    for (const auto* bad : { "TWFu\n", "TWE", "TW=u", "T===", "====", "TWFu TWFu", "TWE-", "TR==", "TWF=", "<html>", "\xF0\x9F\x98\x80" "AAA" })
        EXPECT_FALSE(base64Decode(bad)) << bad;
}

}
}
