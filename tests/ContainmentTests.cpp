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

    bool inside(const fs::path& path) const { return resolveInside(m_root, path).has_value(); }

    TemporaryFolder m_folder { "quillpost-containment" };
    const fs::path m_root { m_folder / "Clients" };
};

TEST_F(ContainmentTest, AcceptsOnlyPathsStrictlyBelowTheRoot)
{
    EXPECT_TRUE(inside(m_root / "Ana"));
    EXPECT_TRUE(inside(m_root / "Ana" / "Forms" / "imm5257.pdf"));
    EXPECT_TRUE(inside(m_root / "Ana" / "not-yet-there.pdf"));
    EXPECT_TRUE(inside(m_root / "Ana" / "." / "Forms" / ".." / "Forms" / "imm5257.pdf"));
    EXPECT_EQ(resolveInside(m_root, m_root / "Ana" / "Forms" / ".." / "x.pdf"), fs::canonical(m_root) / "Ana" / "x.pdf");

    EXPECT_FALSE(inside(m_root));
    EXPECT_FALSE(inside(m_root.string() + "/"));
    EXPECT_FALSE(inside(m_root / "."));
    EXPECT_FALSE(inside(m_root / "Ana" / ".."));
    EXPECT_FALSE(inside(m_root / ".." / "secret.txt"));
    EXPECT_FALSE(inside(m_root / "Ana" / ".." / ".." / "secret.txt"));
    EXPECT_FALSE(inside(m_root / "missing" / ".." / ".." / "secret.txt"));
    EXPECT_FALSE(inside(m_folder / "Clients2" / "other.pdf"));
    EXPECT_FALSE(inside(m_folder / "Clients2"));
    EXPECT_FALSE(inside("/etc/hosts"));
    EXPECT_FALSE(inside("Ana/Forms/imm5257.pdf"));
    EXPECT_FALSE(inside(""));
    // Text after a NUL would be checked but never reach the system call.
    EXPECT_FALSE(inside(fs::path(m_root.string() + "/Ana" + std::string("\0/../../secret.txt", 18))));
    // A root that does not exist holds nothing.
    EXPECT_FALSE(resolveInside(m_folder / "nowhere", m_folder / "nowhere" / "a.pdf"));
}

TEST_F(ContainmentTest, FollowsLinksToWhereTheyLead)
{
    fs::create_symlink(m_folder / "secret.txt", m_root / "Ana" / "letter.pdf");
    fs::create_symlink(m_folder.path(), m_root / "Ana" / "up");
    fs::create_symlink(m_root / "Ana" / "Forms", m_root / "forms-link");
    fs::create_symlink("missing-target", m_root / "dangling.pdf");
    fs::create_symlink("loop", m_root / "loop");

    EXPECT_FALSE(inside(m_root / "Ana" / "letter.pdf"));
    // A link in the middle of the path, and a ".." after a link, climb from the link's target.
    EXPECT_FALSE(inside(m_root / "Ana" / "up" / "secret.txt"));
    EXPECT_FALSE(inside(m_root / "Ana" / "up" / "Clients2" / "other.pdf"));
    // Read as text, forms-link/../.. would be the folder above the root; the link leads two levels down.
    EXPECT_EQ(resolveInside(m_root, m_root / "forms-link" / ".." / ".." / "x.pdf"), fs::canonical(m_root) / "x.pdf");
    EXPECT_EQ(resolveInside(m_root, m_root / "forms-link" / ".." / "Forms" / "imm5257.pdf"), fs::canonical(m_root / "Ana" / "Forms" / "imm5257.pdf"));
    EXPECT_TRUE(inside(m_root / "forms-link" / "imm5257.pdf"));
    EXPECT_FALSE(inside(m_root / "dangling.pdf"));
    EXPECT_FALSE(inside(m_root / "loop"));

    // A root reached through a link is the folder it leads to.
    fs::create_symlink(m_root, m_folder / "root-link");
    EXPECT_TRUE(resolveInside(m_folder / "root-link", m_root / "Ana" / "Forms" / "imm5257.pdf"));
    EXPECT_TRUE(resolveInside(m_root, m_folder / "root-link" / "Ana"));
    EXPECT_FALSE(resolveInside(m_folder / "root-link", m_folder / "root-link"));
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
