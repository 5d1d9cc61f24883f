#include "bridge/Bridge.h"
#include "bridge/PdfLock.h"
#include "bridge/PrintCommands.h"

#include "common/Base64.h"
#include "doubles/CommandHarness.h"
#include "doubles/DesktopDoubles.h"
#include "doubles/FakeProcessRunner.h"
#include "doubles/FakeWebView.h"
#include "doubles/SamplePdf.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "printinbox/PrintInbox.h"
#include "store/Store.h"

#include <gtest/gtest.h>

#include <set>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

class PrintCommandTest : public testing::Test {
protected:
    PrintCommandTest()
        : m_store(Store::Location { m_folder.path(), true, m_folder / "home", m_folder / "documents" }, Store::Services { m_clock, m_clock, m_clock })
        , m_inbox({ m_store, m_runner, m_clock, m_clock, PrintTools {}, [this](int port) { return !m_runner.runningWith(std::to_string(port)); },
              [](const std::string&) { return true; } })
        , m_bridge({ .store = m_store, .panels = m_panels, .workspace = m_workspace, .processes = m_runner, .mainQueue = m_clock, .printInbox = &m_inbox })
    {
        m_workspace.trash = m_folder / "Trash";
        // The print system is all there: avahi-daemon on the system bus and cupsd running.
        m_runner.respond = [](const std::vector<std::string>& arguments) -> ProcessRunner::Result {
            if (arguments[0] == PrintTools {}.gdbus)
                return { true, 0, "(true,)\n", {} };
            if (arguments[0] == PrintTools {}.lpstat && arguments.size() > 1 && arguments[1] == "-r")
                return { true, 0, "scheduler is running\n", {} };
            return { true, 0, {}, {} };
        };
    }

    std::shared_ptr<CommandAnswer> command(const std::string& cmd, const Json& args = Json::array())
    {
        auto answer = std::make_shared<CommandAnswer>();
        m_bridge.receive(Json { { "cmd", cmd }, { "args", args.dump() } }, recordInto(answer));
        return answer;
    }

    void attachWindow()
    {
        m_bridge.setWebView(m_webView);
        m_bridge.setWindow(m_window);
    }

    TemporaryFolder m_folder { "quillpost-print" };
    VirtualClock m_clock;
    Store m_store;
    FakePanels m_panels;
    FakeWorkspace m_workspace;
    FakeProcessRunner m_runner { m_clock };
    PrintInbox m_inbox;
    Bridge m_bridge;
    std::shared_ptr<FakeWebView> m_webView = std::make_shared<FakeWebView>();
    std::shared_ptr<FakeWindow> m_window = std::make_shared<FakeWindow>();
};

TEST(PdfLock, LocksWithThePasswordOnlyAndRefusesInputItCannotVouchFor)
{
    auto pdf = samplePdf(2);
    auto locked = PdfLock::protect(pdf, "correct horse");
    ASSERT_TRUE(std::holds_alternative<std::string>(locked));
    auto& bytes = std::get<std::string>(locked);
    EXPECT_TRUE(PdfLock::opens(bytes, "correct horse"));
    for (const char* wrong : { "", "xcorrect horse", "correct hors" })
        EXPECT_FALSE(PdfLock::opens(bytes, wrong)) << wrong;
    EXPECT_EQ(bytes.find("correct horse"), std::string::npos);

    const struct {
        const char* name;
        std::string bytes;
        std::string_view password;
        bool refused;
    } cases[] = {
        { "seven characters", pdf, "1234567", true },
        { "eight characters", pdf, "12345678", false },
        { "seven characters in fourteen bytes", pdf, "ééééééé", true },
        { "eight characters in eleven bytes", pdf, "pässwörd", false },
        { "a NUL the lock would stop at", pdf, std::string_view("abc\0defghij", 11), true },
        { "PostScript", "%!PS-Adobe-3.0\nshowpage\n", "12345678", true },
        { "nothing", "", "12345678", true },
        { "truncated", pdf.substr(0, pdf.size() / 2), "12345678", true },
        { "encrypted already", samplePdf(1, "already"), "12345678", true },
    };
    for (const auto& test : cases)
        EXPECT_EQ(std::holds_alternative<PdfLock::Refusal>(PdfLock::protect(test.bytes, test.password)), test.refused) << test.name;
}

TEST_F(PrintCommandTest, ProtectPdfAnswersTheLockedBytesOrTheDescribedFailure)
{
    auto pdf = base64Encode(samplePdf());
    auto locked = command("protectPdf", Json::array({ { { "bytes", pdf }, { "password", "handover1" } } }));
    ASSERT_TRUE(locked->result) << locked->error.value_or("");
    EXPECT_TRUE(PdfLock::opens(base64Decode(locked->json().get<std::string>()).value_or(""), "handover1"));

    for (Json request : {
             Json("not a dictionary"),
             Json { { "bytes", pdf } },
             Json { { "password", "handover1" } },
             Json { { "bytes", 42 }, { "password", "handover1" } },
             Json { { "bytes", pdf }, { "password", 12345678 } },
             Json { { "bytes", pdf }, { "password", "short12" } },
             Json { { "bytes", "not base64!" }, { "password", "handover1" } },
             Json { { "bytes", pdf + "\n" }, { "password", "handover1" } },
             Json { { "bytes", base64Encode("plain text") }, { "password", "handover1" } },
         })
        EXPECT_EQ(command("protectPdf", Json::array({ request }))->error, "The handover PDF couldn't be prepared") << request.dump();
    EXPECT_EQ(command("protectPdf")->error, "The handover PDF couldn't be prepared");
}

TEST_F(PrintCommandTest, PrintPdfAnswersThePageLeavesNoTemporaryFileAndCapsWhatWaits)
{
    EXPECT_EQ(command("printPdf")->error, "No window");
    EXPECT_EQ(command("printPage")->error, "No window to print");
    attachWindow();
    const struct {
        bool succeeded;
        std::string written;
        std::optional<std::string> error;
    } cases[] = {
        { true, "%PDF-1.4 the page", std::nullopt },
        { false, "%PDF-1.4 half", "Printing to PDF failed" },
        { true, "", "Printing to PDF failed" },
    };
    std::set<fs::path> files;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.written);
        auto answer = command("printPdf");
        ASSERT_EQ(m_webView->prints.size(), files.size() + 1);
        auto run = m_webView->prints.back();
        EXPECT_EQ(run.destination, WebView::PrintDestination::PdfFile);
        EXPECT_TRUE(files.insert(run.file).second) << "a file of its own each time";
        writeText(run.file, test.written);
        run.completion(test.succeeded, test.succeeded ? "" : "The printer failed");
        EXPECT_EQ(answer->error, test.error);
        if (!test.error) {
            EXPECT_EQ(answer->json(), base64Encode(test.written));
        }
        EXPECT_FALSE(fs::exists(run.file));
    }

    m_webView->prints.clear();
    std::vector<std::shared_ptr<CommandAnswer>> answers;
    for (size_t index = 0; index < PrintCommands::maximumWaitingPrints + 1; ++index)
        answers.push_back(command("printPdf"));
    EXPECT_NE(command("printPdf")->error.value_or("").find("still making"), std::string::npos);
    EXPECT_EQ(m_webView->prints.size(), 1u);
    // The view goes while the first print runs: the ones waiting are told, none is left hanging.
    auto running = m_webView->prints[0].completion;
    m_webView.reset();
    running(false, {});
    for (auto& answer : answers) {
        EXPECT_EQ(answer->calls, 1);
        EXPECT_EQ(answer->error, "Printing to PDF failed");
    }
}

// WebKit's web process ends when a print operation starts while another runs: whatever the page
// asks, the view sees one print at a time.
TEST_F(PrintCommandTest, ThePageIsPrintedOnceAtATimeWhateverItAsks)
{
    attachWindow();
    struct Case {
        const char* name;
        std::vector<std::string> commands;
        std::vector<WebView::PrintDestination> order;
        std::vector<bool> busy;
    };
    using enum WebView::PrintDestination;
    const std::vector<Case> cases {
        { "a double click on Save as PDF", { "printPdf", "printPdf" }, { PdfFile, PdfFile }, { false, false } },
        { "paper while a PDF is made", { "printPdf", "printPage" }, { PdfFile, PrintDialog }, { false, false } },
        { "a PDF while the dialog is open", { "printPage", "printPdf" }, { PrintDialog, PdfFile }, { false, false } },
        { "a second dialog while one is open", { "printPage", "printPage" }, { PrintDialog }, { false, true } },
        { "a second dialog while one waits", { "printPdf", "printPage", "printPage", "printPdf" }, { PdfFile, PrintDialog, PdfFile }, { false, false, true, false } },
    };
    for (const auto& test : cases) {
        m_webView->prints.clear();
        std::vector<std::shared_ptr<CommandAnswer>> answers;
        for (const auto& name : test.commands)
            answers.push_back(command(name));
        std::vector<WebView::PrintDestination> seen;
        for (size_t finished = 0; finished < m_webView->prints.size(); ++finished) {
            EXPECT_EQ(m_webView->prints.size(), finished + 1) << test.name << ": only one print runs";
            seen.push_back(m_webView->prints[finished].destination);
            auto run = m_webView->prints[finished];
            run.completion(false, {});
            run.completion(false, {}); // a second end of the same run starts nothing more
        }
        EXPECT_EQ(seen, test.order) << test.name;
        for (size_t index = 0; index < answers.size(); ++index) {
            EXPECT_EQ(answers[index]->calls, 1) << test.name << ": every request answers once, " << index;
            const bool busy = answers[index]->result && answers[index]->json().is_object() && answers[index]->json().value("busy", false);
            EXPECT_EQ(busy, test.busy[index]) << test.name << ", request " << index;
        }
    }
}

TEST_F(PrintCommandTest, PrintedFilesAreReadOpenedAndTrashedOnlyInsideTheInbox)
{
    auto inbox = m_inbox.inboxFolder();
    writeText(inbox / "a.pdf", "%PDF-1.4 a");
    writeText(m_folder / "outside.pdf", "%PDF-1.4 secret");
    auto inside = (inbox / "a.pdf").string();
    auto outside = (inbox / ".." / "outside.pdf").string();

    auto read = command("readPrinted", { inside });
    EXPECT_EQ(read->calls, 0) << "read on the background queue";
    m_clock.runBackground();
    m_clock.runPosted();
    EXPECT_EQ(read->json(), base64Encode("%PDF-1.4 a"));
    EXPECT_EQ(command("readPrinted", { outside })->error, "Not allowed");

    // A printed file over the limit is refused by its size, without being read.
    writeText(inbox / "huge.pdf", "");
    fs::resize_file(inbox / "huge.pdf", Store::pageReadLimit + 1);
    auto huge = command("readPrinted", { (inbox / "huge.pdf").string() });
    m_clock.runBackground();
    m_clock.runPosted();
    EXPECT_EQ(huge->error, Store::pageReadLimitMessage());
    fs::remove(inbox / "huge.pdf");

    EXPECT_EQ(command("readPrinted", Json::array({ 42 }))->error, "Not allowed");
    EXPECT_EQ(command("openPrinted", { outside })->json(), false);
    EXPECT_EQ(command("openPrinted", { inside })->json(), true);
    EXPECT_EQ(command("deletePrinted", { outside })->json(), false);
    EXPECT_EQ(command("deletePrinted", { m_inbox.spoolFolder().string() })->json(), false);
    EXPECT_EQ(m_workspace.trashed.size(), 0u);
    m_workspace.trashWorks = false;
    EXPECT_EQ(command("deletePrinted", { inside })->json(), false);
    m_workspace.trashWorks = true;
    EXPECT_EQ(command("deletePrinted", { inside })->json(), true);
    EXPECT_EQ(readText(m_folder / "outside.pdf"), "%PDF-1.4 secret");
    EXPECT_EQ(command("listPrinted")->json(), Json::array());
}

TEST_F(PrintCommandTest, PrinterOffRemovesOnlyOurQueueAndSetupTurnsItBackOn)
{
    auto setup = command("printerSetup");
    m_clock.runPosted();
    EXPECT_EQ(setup->calls, 0) << "the new server gets a second to listen before the queue is set up";
    m_clock.advance(std::chrono::milliseconds(1000));
    ASSERT_EQ(setup->calls, 1);
    EXPECT_EQ(setup->json()["ok"], true);

    auto off = command("printerOff");
    m_clock.runPosted();
    EXPECT_EQ(off->json()["running"], false);
    EXPECT_EQ(off->json()["enabled"], false);
    auto removals = m_runner.runsOf(PrintTools {}.lpadmin);
    ASSERT_FALSE(removals.empty());
    EXPECT_EQ(removals.back(), (std::vector<std::string> { PrintTools {}.lpadmin, "-x", "Quillpost_PDF" }));
    EXPECT_EQ(Json::parse(readText(m_folder / "config.json"))["printer"], "off");

    m_store.config()["printer"] = "off";
    auto again = command("printerSetup");
    m_clock.advance(std::chrono::milliseconds(1000));
    EXPECT_EQ(again->json()["enabled"], true);
    EXPECT_FALSE(Json::parse(readText(m_folder / "config.json")).contains("printer"));
}

}
}
