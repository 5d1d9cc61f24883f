#include "doubles/TemporaryFolder.h"
#include "store/Containment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

class ContainmentTest : public testing::Test {
protected:
    ContainmentTest()
    {
        fs::create_directories(m_root / "Ana" / "Forms");
        writeText(m_root / "Ana" / "Forms" / "imm5257.pdf", "form");
        writeText(m_folder / "secret.txt", "secret");
        fs::create_directories(m_folder / "Clients2");
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

    // The file itself swapped for a link.
    fs::remove(m_root / "Ana" / "Forms");
    fs::rename(m_root / "Ana" / "Forms.old", m_root / "Ana" / "Forms");
    fs::remove(m_root / "Ana" / "Forms" / "imm5257.pdf");
    fs::create_symlink(m_folder / "secret.txt", m_root / "Ana" / "Forms" / "imm5257.pdf");
    EXPECT_FALSE(openBelow(m_root, *checked, O_RDONLY));

    // A path that is not below the root is refused whatever it is.
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
