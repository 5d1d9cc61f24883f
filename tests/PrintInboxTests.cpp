#include "printinbox/PrintInbox.h"

#include "doubles/FakeProcessRunner.h"
#include "doubles/ScopedTimeZone.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/Store.h"

#include <gtest/gtest.h>

#include <regex>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> names(const fs::path& folder)
{
    std::vector<std::string> found;
    std::error_code error;
    for (auto& entry : fs::directory_iterator(folder, error)) {
        if (!entry.is_directory())
            found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

class PrintInboxTest : public testing::Test {
protected:
    PrintInboxTest()
        : m_store(Store::Location { m_folder.path(), true, m_folder / "home", m_folder / "documents" }, Store::Services { m_clock, m_clock, m_clock })
        , m_inbox({ m_store, m_runner, m_clock, m_clock })
    {
        fs::create_directories(m_inbox.spoolFolder());
        m_inbox.onArrive = [this](const Json& info) { m_arrivals.push_back(info); };
    }

    fs::path spool(const std::string& name) const { return m_inbox.spoolFolder() / name; }

    // A tick a second, as the server's collection timer gives them.
    void ticks(int count)
    {
        for (int i = 0; i < count; ++i) {
            m_inbox.collect();
            m_clock.advance(1000ms);
        }
    }

    // The user's clock runs in Toronto: 2024-05-01T12:00:00Z is 08.00 there.
    ScopedTimeZone m_zone { "America/Toronto" };
    TemporaryFolder m_folder { "quillpost-inbox" };
    VirtualClock m_clock;
    Store m_store;
    FakeProcessRunner m_runner { m_clock };
    PrintInbox m_inbox;
    std::vector<Json> m_arrivals;
    const std::string m_pdf { "%PDF-1.7\n% a job\n%%EOF\n" };
};

TEST_F(PrintInboxTest, DeliversAJobOnceItsSizeHoldsWithItsReadableName)
{
    std::string written = "%PDF-1.7\n";
    for (int tick = 0; tick < 5; ++tick) {
        writeText(spool("12-Form_IMM5257_pdf.pdf"), written);
        ticks(1);
        written += "more of the job\n";
    }
    written.resize(written.size() - 16);
    ticks(1);
    EXPECT_TRUE(m_arrivals.empty()) << "one second of the same size is not yet stable";
    ticks(1);

    ASSERT_EQ(m_arrivals.size(), 1u);
    const std::string name = "Form_IMM5257 (printed 2024-05-01 08.00).pdf";
    auto delivered = m_inbox.inboxFolder() / name;
    EXPECT_EQ(m_arrivals[0], (Json { { "name", name }, { "path", delivered.string() }, { "size", written.size() }, { "at", m_arrivals[0]["at"] } }));
    EXPECT_EQ(readText(delivered), written);
    EXPECT_TRUE(names(m_inbox.spoolFolder()).empty());
}

TEST_F(PrintInboxTest, NamesJobsByTheirTitleNeverReplacesAFileAndDiscardsWhatIsNoPdf)
{
    writeText(spool("3-untitled.pdf"), m_pdf);
    writeText(spool("4.pdf"), m_pdf);
    writeText(spool("9-receipt.pdf"), m_pdf);
    writeText(spool("5-scan.ps"), "%!PS-Adobe-3.0\nshowpage\n");
    writeText(spool("6-short.pdf"), "%PD");
    writeText(spool("7-empty.pdf"), "");
    writeText(spool(".8-hidden.pdf"), m_pdf);
    writeText(m_folder / "secret.pdf", m_pdf);
    fs::create_symlink(m_folder / "secret.pdf", spool("1-link.pdf"));
    ticks(3);
    writeText(spool("10-receipt.pdf"), "%PDF- the second");
    ticks(10);

    EXPECT_EQ(names(m_inbox.inboxFolder()), (std::vector<std::string> {
                                                 "4 (printed 2024-05-01 08.00).pdf",
                                                 "Printed form (printed 2024-05-01 08.00).pdf",
                                                 "receipt (printed 2024-05-01 08.00) (2).pdf",
                                                 "receipt (printed 2024-05-01 08.00).pdf",
                                             }));
    EXPECT_EQ(readText(m_inbox.inboxFolder() / "receipt (printed 2024-05-01 08.00) (2).pdf"), "%PDF- the second");
    // Empty jobs and hidden files stay; a link in the spool is not followed.
    EXPECT_EQ(names(m_inbox.spoolFolder()), (std::vector<std::string> { ".8-hidden.pdf", "1-link.pdf", "7-empty.pdf" }));
    EXPECT_EQ(readText(m_folder / "secret.pdf"), m_pdf);
    EXPECT_EQ(m_arrivals.size(), 4u);
}

TEST_F(PrintInboxTest, HostileJobNamesBecomeCleanFileNames)
{
    EXPECT_EQ(InboxNames::jobTitle("1-a:b*c?.pdf"), "a:b*c?");
    EXPECT_EQ(InboxNames::safeFile("a:b*c?\x01 \"x\"  <y>| (printed 2024-05-01 08.00).pdf"), "abc x y (printed 2024-05-01 08.00).pdf");
    EXPECT_EQ(InboxNames::safeFile("...hidden.PDF"), "hidden.pdf");
    EXPECT_EQ(InboxNames::jobTitle("2-\xff\xfe.pdf"), "\xEF\xBF\xBD\xEF\xBF\xBD") << "bytes that are no text become U+FFFD";

    // A title of 300 characters, some of two bytes: cut at 80 characters, never inside one.
    std::string title;
    for (int i = 0; i < 150; ++i)
        title += "é";
    auto cut = InboxNames::safeFile(title + " (printed 2024-05-01 08.00).pdf");
    EXPECT_EQ(cut, std::string(title, 0, 160) + ".pdf");
}

TEST_F(PrintInboxTest, InsideAcceptsOnlyFilesDirectlyInTheInbox)
{
    auto inbox = m_inbox.inboxFolder();
    writeText(inbox / "a.pdf", m_pdf);
    writeText(spool("1-job.pdf"), m_pdf);
    writeText(m_folder / "Print Inbox2" / "b.pdf", m_pdf);
    writeText(m_folder / "outside.pdf", m_pdf);
    fs::create_symlink(m_folder / "outside.pdf", inbox / "link-out.pdf");
    fs::create_directory_symlink(inbox, m_folder / "inbox-link");

    for (auto accepted : { inbox / "a.pdf", inbox / "." / ".spool" / ".." / "a.pdf", m_folder / "inbox-link" / "a.pdf" })
        EXPECT_EQ(m_inbox.inside(accepted.string()), fs::canonical(inbox / "a.pdf")) << accepted;

    for (auto refused : {
             spool("1-job.pdf").string(),
             m_inbox.spoolFolder().string(),
             inbox.string(),
             (inbox / ".." / "outside.pdf").string(),
             (inbox / "link-out.pdf").string(),
             (m_folder / "Print Inbox2" / "b.pdf").string(),
             (inbox / "missing.pdf").string(),
             std::string("a.pdf"),
             std::string(),
             (inbox / "a.pdf").string() + std::string(1, '\0') + "/../../outside.pdf",
         })
        EXPECT_FALSE(m_inbox.inside(refused)) << refused;
}

TEST_F(PrintInboxTest, ListsThePdfFilesNewestFirst)
{
    auto inbox = m_inbox.inboxFolder();
    writeText(inbox / "a.pdf", m_pdf);
    writeText(inbox / "B.PDF", "%PDF-");
    writeText(inbox / "notes.txt", "not listed");
    fs::create_directories(inbox / "folder.pdf");
    fs::last_write_time(inbox / "a.pdf", fs::last_write_time(inbox / "a.pdf") - 1h);

    auto listed = m_inbox.list();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0]["name"], "B.PDF");
    EXPECT_EQ(listed[0]["size"], 5);
    EXPECT_EQ(listed[1]["name"], "a.pdf");
    EXPECT_TRUE(std::regex_match(listed[0]["at"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
}

}
}
