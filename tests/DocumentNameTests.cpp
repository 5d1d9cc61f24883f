#include "common/Base64.h"
#include "doubles/TemporaryFolder.h"
#include "store/Store.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

TEST(SafeName, CleansFolderAndFileNames)
{
    EXPECT_EQ(Store::safeName(" ..Smith: J/K "), "Smith JK");
    EXPECT_EQ(Store::safeName("Ana \t\n  Lima"), "Ana Lima");
    EXPECT_EQ(Store::safeName("Ana\xC2\xA0\xE2\x80\x83Lima"), "Ana Lima"); // no-break and em spaces
    EXPECT_EQ(Store::safeName("a\\b*c?d\"e<f>g|h"), "abcdefgh");
    EXPECT_EQ(Store::safeName("O'Brien, Seán"), "O'Brien, Seán");
    // No space is left at either end: not behind leading dots, not where the length cut falls.
    EXPECT_EQ(Store::safeName(".. _ Ana"), "_ Ana");
    std::string cutAtSpace(79, 'x');
    cutAtSpace.append(" tail");
    EXPECT_EQ(Store::safeName(cutAtSpace), std::string(79, 'x'));
    for (const auto* untitled : { "", "...", "  ", "\x01\x02\x1f", "/", "//..//" })
        EXPECT_EQ(Store::safeName(untitled), "Untitled") << untitled;
    EXPECT_EQ(Store::safeName(std::nullopt), "Untitled");
    // Controls are removed, not turned into spaces; DEL and C1 controls too.
    const char controls[] = "a\0b\x7f" "c\xC2\x9B" "d";
    EXPECT_EQ(Store::safeName(std::string_view(controls, sizeof(controls) - 1)), "abcd");
    // Bytes that are not UTF-8 become U+FFFD rather than half a character.
    EXPECT_EQ(Store::safeName("caf\xE9"), "caf\xEF\xBF\xBD");
}

TEST(SafeName, KeepsEightyCharactersAndFitsAFileName)
{
    EXPECT_EQ(Store::safeName(std::string(100, 'x')), std::string(80, 'x'));
    EXPECT_EQ(Store::safeName(std::string(300, 'y')).size(), 80u);
    // Eighty four-byte characters would pass the file system's 255-byte limit once an extension
    // and a " (2)" are added; whole characters are kept within 200 bytes.
    std::string emoji;
    for (int i = 0; i < 100; ++i)
        emoji += "\xF0\x9F\x93\x84";
    const std::string cut = Store::safeName(emoji);
    EXPECT_EQ(cut.size(), 200u);
    EXPECT_EQ(cut, emoji.substr(0, 200));
    std::string accented(79, 'a');
    accented.append("\xC3\xA9\xC3\xA9");
    EXPECT_EQ(Store::safeName(accented), accented.substr(0, 81));
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
    std::string emoji;
    for (int i = 0; i < 50; ++i)
        emoji += "\xF0\x9F\x93\x84";
    const std::string numbered = Store::numberedName(emoji, 2);
    EXPECT_LE(numbered.size(), 200u);
    EXPECT_TRUE(numbered.ends_with(" (2)"));
    EXPECT_EQ(Store::safeName(numbered), numbered);
}

TEST(SafeFile, KeepsTheBaseAndAShortLowerCaseExtension)
{
    EXPECT_EQ(Store::safeFile("Passport SCAN.JPEG"), "Passport SCAN.jpeg");
    EXPECT_EQ(Store::safeFile("README"), "README");
    EXPECT_EQ(Store::safeFile("x.tar.gz"), "x.tar.gz");
    EXPECT_EQ(Store::safeFile("a/b.pdf"), "b.pdf");
    EXPECT_EQ(Store::safeFile("../../etc/passwd"), "passwd");
    EXPECT_EQ(Store::safeFile("sheet.numbers"), "sheet.number");
    EXPECT_EQ(Store::safeFile("letter.p-d_f!"), "letter.pdf");
    EXPECT_EQ(Store::safeFile(".bashrc"), "bashrc");
    EXPECT_EQ(Store::safeFile("..."), "Untitled");
    EXPECT_EQ(Store::safeFile(""), "Untitled");
    EXPECT_EQ(Store::safeFile("..pdf"), "Untitled.pdf");
    EXPECT_EQ(Store::safeFile("scan.\xC3\xA9t\xC3\xA9"), "scan.t");
    std::string longName(300, 'n');
    longName.append(".PDF");
    std::string cut(80, 'n');
    cut.append(".pdf");
    EXPECT_EQ(Store::safeFile(longName), cut);
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
