#include "bridge/PdfLock.h"
#include "bridge/PrintCommands.h"
#include "common/Base64.h"
#include "doubles/CommandHarness.h"
#include "doubles/FakeWebView.h"
#include "doubles/SamplePdf.h"
#include "printinbox/PrintInbox.h"
#include "store/Store.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace quillpost {
namespace {

namespace fs = std::filesystem;
using Arguments = std::vector<std::string>;
using Calls = std::vector<Arguments>;
using Names = std::vector<std::string>;
using namespace std::chrono_literals;

const PrintTools tools;
const Arguments holdNew { tools.cupsdisable, "--hold", "Quillpost_PDF" };
const Arguments pause { tools.cupsdisable, "Quillpost_PDF" };
const Arguments resume { tools.cupsenable, "Quillpost_PDF" };
const Arguments releaseHeld { tools.cupsenable, "--release", "Quillpost_PDF" };

// The printer, its inbox and the commands over them, on a print system the test plays.
class PrinterTest : public testing::Test {
protected:
    // The user's clock runs in Toronto: 2024-05-01T12:00:00Z is 08.00 there.
    PrinterTest()
    {
        ::setenv("TZ", "America/Toronto", 1);
        ::tzset();
        // The print system as on a machine where the queue doesn't exist yet.
        m_runner.respond = [this](const Arguments& arguments) -> ProcessRunner::Result {
            if (arguments[0] == tools.gdbus)
                return m_avahiAnswer;
            if (arguments[0] == tools.lpstat && arguments[1] == "-r")
                return { true, 0, m_schedulerRunning ? "scheduler is running\n" : "scheduler is not running\n", {} };
            if (arguments[0] == tools.lpstat && m_queueUri.empty())
                return { true, 1, "", "lpstat: Invalid destination name" };
            if (arguments[0] == tools.lpstat)
                return { true, 0, "device for Quillpost_PDF: " + m_queueUri + m_lpstatTail, "" };
            if (arguments[0] == tools.lpadmin && !m_lpadminError.empty())
                return { true, 1, {}, m_lpadminError };
            if (arguments[0] == tools.lpadmin && arguments[1] == "-p")
                m_queueUri = arguments[5];
            if (arguments[0] == tools.ps)
                return { true, 0, m_psAnswer, {} };
            return { true, 0, {}, {} };
        };
        m_workspace.trash = m_folder / "Trash";
    }

    ~PrinterTest() override
    {
        m_zoneBefore ? ::setenv("TZ", m_zoneBefore->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

    PrintInbox& inbox()
    {
        if (!m_inbox) {
            m_inbox = std::make_unique<PrintInbox>(PrintInbox::Services { m_store, m_runner, m_clock, m_clock, tools,
                [this](int port) { return !m_busyPorts.contains(port) && !(m_serverListens && m_runner.runningWith(std::to_string(port))); },
                [this](const std::string& path) { return m_installed && (path == tools.server || path == tools.gdbus); } });
            m_inbox->onArrive = [this](const Json& info) { m_arrivals.push_back(info); };
        }
        return *m_inbox;
    }

    std::shared_ptr<CommandAnswer> command(const std::string& cmd, const Json& args = Json::array())
    {
        if (!m_bridge) {
            m_bridge = std::make_unique<Bridge>(Bridge::Services { .store = m_store, .panels = m_panels, .workspace = m_workspace,
                .processes = m_runner, .mainQueue = m_clock, .printInbox = &inbox() });
        }
        auto answer = std::make_shared<CommandAnswer>();
        m_bridge->receive(Json { { "cmd", cmd }, { "args", args.dump() } }, recordInto(answer));
        return answer;
    }

    // Starts and lets the queue check that follows a start run.
    void startAndSettle()
    {
        inbox().start();
        settle(1000ms);
    }

    void settle(std::chrono::milliseconds time)
    {
        m_clock.runPosted();
        m_clock.advance(time);
        m_clock.runPosted();
    }

    Json status()
    {
        Json answer;
        inbox().status([&](Json given) { answer = std::move(given); });
        m_clock.runPosted();
        return answer;
    }

    Json config() { return Json::parse(readText(m_folder / "config.json")); }

    // The calls that change the queue, in order: hold, (re)create, release, remove.
    Calls queueChanges(size_t from = 0) const
    {
        Calls changes;
        for (const auto& arguments : m_runner.runs) {
            if (arguments[0] == tools.cupsdisable || arguments[0] == tools.cupsenable || arguments[0] == tools.lpadmin)
                changes.push_back(arguments);
        }
        return Calls(changes.begin() + static_cast<std::ptrdiff_t>(std::min(from, changes.size())), changes.end());
    }

    fs::path spool(const std::string& name)
    {
        fs::create_directories(inbox().spoolFolder());
        return inbox().spoolFolder() / name;
    }

    // Collection ticks a second apart, as the server's collection timer gives them.
    void ticks(int count)
    {
        for (int i = 0; i < count; ++i) {
            inbox().collect();
            m_clock.advance(1000ms);
        }
    }

    const std::optional<std::string> m_zoneBefore = std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
    TemporaryFolder m_folder { "quillpost-printer" };
    VirtualClock m_clock;
    Store m_store { Store::Location { m_folder.path(), true, m_folder / "home", m_folder / "documents" },
        Store::Services { m_clock, m_clock, m_clock } };
    FakeProcessRunner m_runner { m_clock };
    FakePanels m_panels;
    FakeWorkspace m_workspace;
    std::unique_ptr<PrintInbox> m_inbox;
    std::unique_ptr<Bridge> m_bridge;
    std::vector<Json> m_arrivals;
    std::set<int> m_busyPorts;
    bool m_installed { true };
    // Whether a started server takes its port, as the real one does once it is up.
    bool m_serverListens { true };
    std::string m_queueUri;
    std::string m_lpstatTail { "\n" };
    std::string m_lpadminError;
    std::string m_psAnswer;
    // The system bus's answer to whether avahi-daemon is on it, and cupsd's to lpstat -r.
    ProcessRunner::Result m_avahiAnswer { true, 0, "(true,)\n", {} };
    bool m_schedulerRunning { true };
    const std::string m_pdf { "%PDF-1.7\n% a job\n%%EOF\n" };
};

using PrintInboxTest = PrinterTest;
using PrintCommandTest = PrinterTest;

TEST_F(PrinterTest, StartsTheServerAndAddsTheQueueWithExactCommandLines)
{
    EXPECT_EQ(status(), (Json { { "available", true }, { "enabled", true }, { "running", false }, { "queue", false }, { "port", 0 },
                            { "error", "" }, { "inbox", (m_folder / "Print Inbox").string() } }));
    startAndSettle();
    auto spoolFolder = (m_folder / "Print Inbox" / ".spool").string();
    EXPECT_EQ(m_runner.starts, (Calls { { tools.server, "-n", "localhost", "-p", "47631", "-r", "off", "-f", "application/pdf", "-k", "-d",
                                   spoolFolder, "-M", "Quillpost", "-m", "PDF copy", "Quillpost PDF" } }));
    EXPECT_TRUE(fs::is_directory(spoolFolder));
    EXPECT_TRUE(config().contains("printerPid"));
    EXPECT_EQ(queueChanges(), (Calls { holdNew, pause,
                                  { tools.lpadmin, "-p", "Quillpost_PDF", "-E", "-v", "ipp://localhost:47631/ipp/print", "-m", "everywhere",
                                      "-D", "Quillpost PDF", "-L", "Saves into Quillpost", "-o", "printer-error-policy=retry-job" },
                                  resume, releaseHeld }));
    auto running = status();
    EXPECT_EQ(std::tuple(running["queue"], running["running"], running["port"]), std::tuple(Json(true), Json(true), Json(47631)));
    inbox().start();
    m_clock.runPosted();
    EXPECT_EQ(m_runner.starts.size(), 1u) << "started again while it runs: nothing more";

    // A queue in place is kept (trailing white space still counts as the same device); one on
    // another port is pointed at ours when another program holds the first port.
    inbox().stop();
    m_queueUri = "ipp://localhost:47631/ipp/print";
    m_lpstatTail = "  \r\n";
    m_runner.runs.clear();
    startAndSettle();
    EXPECT_TRUE(m_runner.runsOf(tools.lpadmin).empty());
    EXPECT_EQ(m_runner.runsOf(tools.cupsenable).size(), 2u);
    inbox().stop();
    m_busyPorts = { 47631 };
    startAndSettle();
    EXPECT_EQ(m_runner.starts.back()[4], "47632");
    EXPECT_EQ(m_runner.runsOf(tools.lpadmin), (Calls { { tools.lpadmin, "-p", "Quillpost_PDF", "-E", "-v", "ipp://localhost:47632/ipp/print",
                                                  "-m", "everywhere", "-D", "Quillpost PDF", "-L", "Saves into Quillpost", "-o",
                                                  "printer-error-policy=retry-job" } }));
}

TEST_F(PrinterTest, FailuresLeaveAClearError)
{
    m_busyPorts = { 47631, 47632, 47633, 47634, 47635 };
    startAndSettle();
    EXPECT_TRUE(m_runner.starts.empty());
    EXPECT_EQ(inbox().lastError(), "No free port for the printer");

    m_busyPorts.clear();
    m_runner.startError = "No such file or directory";
    startAndSettle();
    EXPECT_FALSE(inbox().running());
    EXPECT_EQ(inbox().lastError(), "Couldn't start the printer: No such file or directory");
    EXPECT_TRUE(m_runner.runsOf(tools.lpadmin).empty()) << "no queue may point at a server that isn't there";

    m_runner.startError.clear();
    m_lpadminError = "  lpadmin: Unable to connect to server: Connection refused\n";
    startAndSettle();
    EXPECT_TRUE(inbox().running()) << "the server keeps running without its queue";
    EXPECT_EQ(inbox().lastError(), "Couldn't add the Quillpost PDF printer. lpadmin: Unable to connect to server: Connection refused");
    EXPECT_TRUE(m_runner.runsOf(tools.cupsenable).empty());

    std::optional<bool> ok;
    m_lpadminError.clear();
    inbox().ensureQueue([&](bool result) { ok = result; });
    m_clock.runPosted();
    EXPECT_EQ(ok, true);
    EXPECT_EQ(inbox().lastError(), "") << "a queue set up at last clears the error";

    // Which part of the print system is missing, said before starting.
    const std::tuple<const char*, ProcessRunner::Result, bool, const char*> missing[] = {
        { "no system bus", { true, 1, {}, "Error connecting: Could not connect: Connection refused" }, true, "(D-Bus)" },
        { "no avahi-daemon", { true, 0, "(false,)\n", {} }, true, "avahi-daemon service" },
        { "no cupsd", { true, 0, "(true,)\n", {} }, false, "(cupsd)" },
        { "gdbus not installed: cupsd is still asked", { false, -1, {}, "No such file" }, false, "(cupsd)" },
        { "everything there", { true, 0, "(true,)\n", {} }, true, "" },
    };
    for (const auto& [name, avahi, scheduler, words] : missing) {
        SCOPED_TRACE(name);
        m_avahiAnswer = avahi;
        m_schedulerRunning = scheduler;
        m_runner.starts.clear();
        m_inbox.reset();
        startAndSettle();
        EXPECT_NE(inbox().lastError().find(words), std::string::npos) << inbox().lastError();
        EXPECT_EQ(inbox().lastError().empty(), std::string_view(words).empty());
        EXPECT_EQ(m_runner.starts.size(), std::string_view(words).empty() ? 1u : 0u);
        inbox().stop();
    }
}

TEST_F(PrinterTest, AMissingServerOrAPrinterTurnedOffStartsNothingAndLeavesTheQueueAlone)
{
    // A test run with its own data folder, or a copy without ippeveprinter, quits without touching the print system.
    m_installed = false;
    inbox().stop();
    startAndSettle();
    inbox().stop();
    m_clock.runPosted();
    EXPECT_EQ(status()["available"], false);
    EXPECT_TRUE(queueChanges().empty());

    m_installed = true;
    m_store.config()["printer"] = "off";
    startAndSettle();
    EXPECT_TRUE(m_runner.starts.empty());
    EXPECT_EQ(status()["enabled"], false);
    m_store.config()["printer"] = true; // anything but "off" means on
    startAndSettle();
    EXPECT_EQ(m_runner.starts.size(), 1u);
}

TEST_F(PrinterTest, EndsAStaleServerOnlyWhenItIsOurs)
{
    for (Json stored : { Json(0), Json(-5), Json("777"), Json(7.5), Json(true), Json(std::int64_t(1) << 40) }) {
        m_store.config()["printerPid"] = stored;
        inbox().start();
        m_clock.runPosted();
        inbox().stop();
    }
    EXPECT_TRUE(m_runner.runsOf(tools.ps).empty()) << "stored ids that are no process";
    EXPECT_EQ(m_runner.starts.size(), 6u);

    m_store.config()["printerPid"] = 777;
    m_runner.livePids = { 777 };
    m_psAnswer = "bash\n";
    startAndSettle();
    EXPECT_EQ(m_runner.runsOf(tools.ps), (Calls { { tools.ps, "-p", "777", "-o", "comm=" } }));
    EXPECT_TRUE(m_runner.terminatedPids.empty()) << "the id belongs to another program now";
    inbox().stop();

    // A server that ignores SIGTERM is checked 20 times, 50 ms apart, and then left.
    const size_t startsBefore = m_runner.starts.size();
    m_store.config()["printerPid"] = 777;
    m_psAnswer = "ippeveprinter\n";
    m_runner.staleServerObeys = false;
    m_runner.aliveChecks = 0;
    inbox().start();
    m_clock.runPosted();
    EXPECT_EQ(m_runner.terminatedPids, (std::vector<int> { 777 }));
    // Set up asked for meanwhile waits for the start under way instead of finding no server.
    bool waited = false;
    inbox().start([&] { waited = inbox().running(); });
    m_clock.advance(999ms);
    EXPECT_EQ(m_runner.starts.size(), startsBefore) << "the new server waits for the old one";
    m_clock.advance(1ms);
    EXPECT_EQ(m_runner.aliveChecks, 20);
    EXPECT_EQ(m_runner.starts.size(), startsBefore + 1);
    m_clock.advance(1000ms);
    EXPECT_TRUE(waited);

    // Switched off while the old server was being ended: no server comes up afterwards.
    inbox().stop();
    m_runner.starts.clear();
    m_store.config()["printerPid"] = 777;
    inbox().start();
    m_clock.runPosted();
    inbox().stop();
    m_clock.advance(2000ms);
    EXPECT_TRUE(m_runner.starts.empty());
}

TEST_F(PrinterTest, TheQueueIsHeldUntilTheServerListensAndAgainWhenItStops)
{
    // A run that crashed left the queue enabled on a port that is no longer ours.
    m_queueUri = "ipp://localhost:47633/ipp/print";
    m_serverListens = false;
    inbox().start();
    settle(3000ms);
    EXPECT_EQ(queueChanges(), (Calls { holdNew, pause })) << "held first; a server that doesn't listen yet gets no jobs";
    m_serverListens = true;
    settle(250ms);
    auto changes = queueChanges(2);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0][5], "ipp://localhost:47631/ipp/print");
    EXPECT_EQ(Calls(changes.begin() + 1, changes.end()), (Calls { resume, releaseHeld })) << "released once it points at our listening server";

    for (const auto& [stopping, why] : std::vector<std::pair<std::function<void()>, std::string>> {
             { [&] { inbox().stop(); }, "quit, SIGTERM or printerOff" },
             { [&] { m_runner.children.back()->alive = false; }, "the server ended on its own" } }) {
        startAndSettle();
        const size_t before = queueChanges().size();
        stopping();
        settle(1000ms);
        EXPECT_EQ(queueChanges(before), (Calls { holdNew, pause })) << why;
        EXPECT_EQ(status()["running"], false) << why;
        EXPECT_FALSE(config().contains("printerPid")) << why;
    }
    EXPECT_NE(inbox().lastError().find("stopped"), std::string::npos);
    EXPECT_EQ(m_clock.pendingTimers(), 0u) << "nothing collects for a server that is gone";

    // A server that never listens leaves the queue held.
    m_queueUri.clear();
    m_serverListens = false;
    size_t before = queueChanges().size();
    inbox().start();
    settle(20000ms);
    EXPECT_EQ(queueChanges(before), (Calls { holdNew, pause }));
    EXPECT_NE(inbox().lastError().find("didn't start listening"), std::string::npos);

    // Stopped within a second of a start: never released, held again.
    inbox().stop();
    m_serverListens = true;
    inbox().start();
    m_clock.advance(500ms);
    inbox().stop();
    settle(20000ms);
    EXPECT_EQ(queueChanges(before + 2), (Calls { holdNew, pause, holdNew, pause, holdNew, pause }));

    // Switched off within a second of a start: the queue check must not put the queue back.
    inbox().start();
    m_clock.runPosted();
    inbox().stop();
    inbox().removeQueue();
    m_clock.advance(5000ms);
    auto lpadmin = m_runner.runsOf(tools.lpadmin);
    EXPECT_EQ(Calls(lpadmin.begin() + 1, lpadmin.end()), (Calls { { tools.lpadmin, "-x", "Quillpost_PDF" } }));
    EXPECT_TRUE(m_runner.children.back()->terminated);
    EXPECT_EQ(m_clock.pendingTimers(), 0u) << "the collection stops with the server";

    // No free port: the queue stays held, and a quit afterwards holds it again.
    before = queueChanges().size();
    m_busyPorts = { 47631, 47632, 47633, 47634, 47635 };
    startAndSettle();
    inbox().stop();
    m_clock.runPosted();
    EXPECT_EQ(queueChanges(before), (Calls { holdNew, pause, holdNew, pause }));
}

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
    auto delivered = inbox().inboxFolder() / name;
    EXPECT_EQ(m_arrivals[0], (Json { { "name", name }, { "path", delivered.string() }, { "size", written.size() }, { "at", m_arrivals[0]["at"] } }));
    EXPECT_EQ(readText(delivered), written);
    EXPECT_TRUE(namesIn(inbox().spoolFolder()).empty());
}

TEST_F(PrintInboxTest, NamesJobsByTheirTitleNeverReplacesAFileAndDiscardsWhatIsNoPdf)
{
    for (const char* job : { "3-untitled.pdf", "4.pdf", "9-receipt.pdf", ".8-hidden.pdf" })
        writeText(spool(job), m_pdf);
    writeText(spool("5-scan.ps"), "%!PS-Adobe-3.0\nshowpage\n");
    writeText(spool("6-short.pdf"), "%PD");
    writeText(spool("7-empty.pdf"), "");
    writeText(m_folder / "secret.pdf", m_pdf);
    fs::create_symlink(m_folder / "secret.pdf", spool("1-link.pdf"));
    ticks(3);
    writeText(spool("10-receipt.pdf"), "%PDF- the second");
    ticks(10);

    EXPECT_EQ(namesIn(inbox().inboxFolder()), (Names { ".spool", "4 (printed 2024-05-01 08.00).pdf", "Printed form (printed 2024-05-01 08.00).pdf",
                                                  "receipt (printed 2024-05-01 08.00) (2).pdf", "receipt (printed 2024-05-01 08.00).pdf" }));
    EXPECT_EQ(readText(inbox().inboxFolder() / "receipt (printed 2024-05-01 08.00) (2).pdf"), "%PDF- the second");
    // Empty jobs and hidden files stay; a link in the spool is not followed.
    EXPECT_EQ(namesIn(inbox().spoolFolder()), (Names { ".8-hidden.pdf", "1-link.pdf", "7-empty.pdf" }));
    EXPECT_EQ(readText(m_folder / "secret.pdf"), m_pdf);
    EXPECT_EQ(m_arrivals.size(), 4u);

    EXPECT_EQ(InboxNames::jobTitle("1-a:b*c?.pdf"), "a:b*c?");
    EXPECT_EQ(InboxNames::safeFile("a:b*c?\x01 \"x\"  <y>| (printed 2024-05-01 08.00).pdf"), "abc x y (printed 2024-05-01 08.00).pdf");
    EXPECT_EQ(InboxNames::safeFile("...hidden.PDF"), "hidden.pdf");
    EXPECT_EQ(InboxNames::jobTitle("2-\xff\xfe.pdf"), "\xEF\xBF\xBD\xEF\xBF\xBD") << "bytes that are no text become U+FFFD";
    // A title of 300 characters, some of two bytes: cut at 80 characters, never inside one.
    std::string title;
    for (int i = 0; i < 150; ++i)
        title += "é";
    EXPECT_EQ(InboxNames::safeFile(title + " (printed 2024-05-01 08.00).pdf"), std::string(title, 0, 160) + ".pdf");
}

TEST_F(PrintInboxTest, ListsThePdfFilesNewestFirstAndAcceptsOnlyFilesDirectlyInTheInbox)
{
    auto folder = inbox().inboxFolder();
    writeText(folder / "a.pdf", m_pdf);
    writeText(folder / "B.PDF", "%PDF-");
    writeText(folder / "notes.txt", "not listed");
    fs::create_directories(folder / "folder.pdf");
    fs::last_write_time(folder / "a.pdf", fs::last_write_time(folder / "a.pdf") - 1h);
    auto listed = inbox().list();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(std::pair(listed[0]["name"], listed[0]["size"]), std::pair(Json("B.PDF"), Json(5)));
    EXPECT_EQ(listed[1]["name"], "a.pdf");
    EXPECT_TRUE(std::regex_match(listed[0]["at"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));

    writeText(spool("1-job.pdf"), m_pdf);
    writeText(m_folder / "Print Inbox2" / "b.pdf", m_pdf);
    writeText(m_folder / "outside.pdf", m_pdf);
    fs::create_symlink(m_folder / "outside.pdf", folder / "link-out.pdf");
    fs::create_directory_symlink(folder, m_folder / "inbox-link");
    for (auto accepted : { folder / "a.pdf", folder / "." / ".spool" / ".." / "a.pdf", m_folder / "inbox-link" / "a.pdf" })
        EXPECT_EQ(inbox().inside(accepted.string()), fs::canonical(folder / "a.pdf")) << accepted;
    for (auto refused : { spool("1-job.pdf"), inbox().spoolFolder(), folder, folder / ".." / "outside.pdf", folder / "link-out.pdf",
             m_folder / "Print Inbox2" / "b.pdf", folder / "missing.pdf", fs::path("a.pdf"), fs::path(),
             fs::path((folder / "a.pdf").string() + std::string(1, '\0') + "/../../outside.pdf") })
        EXPECT_FALSE(inbox().inside(refused.string())) << refused;
}

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

    const std::tuple<const char*, std::string, std::string_view, bool> cases[] = {
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
    for (const auto& [name, input, password, refused] : cases)
        EXPECT_EQ(std::holds_alternative<PdfLock::Refusal>(PdfLock::protect(input, password)), refused) << name;
}

TEST_F(PrintCommandTest, ProtectPdfAnswersTheLockedBytesOrTheDescribedFailure)
{
    auto pdf = base64Encode(samplePdf());
    auto locked = command("protectPdf", Json::array({ { { "bytes", pdf }, { "password", "handover1" } } }));
    ASSERT_TRUE(locked->result) << locked->error.value_or("");
    EXPECT_TRUE(PdfLock::opens(base64Decode(locked->json().get<std::string>()).value_or(""), "handover1"));

    for (Json args : { Json::array(), Json::array({ "not a dictionary" }), Json::array({ { { "bytes", pdf } } }),
             Json::array({ { { "password", "handover1" } } }), Json::array({ { { "bytes", 42 }, { "password", "handover1" } } }),
             Json::array({ { { "bytes", pdf }, { "password", 12345678 } } }),
             Json::array({ { { "bytes", "not base64!" }, { "password", "handover1" } } }) })
        EXPECT_EQ(command("protectPdf", args)->error, "The handover PDF couldn't be prepared") << args.dump();
}

// WebKit's web process ends when a print operation starts while another runs: whatever the page
// asks, the view sees one print at a time, and each request answers once.
TEST_F(PrintCommandTest, ThePageIsPrintedOnceAtATimeIntoAFileOfItsOwnThatIsRemovedAndWhatWaitsIsCapped)
{
    EXPECT_EQ(command("printPdf")->error, "No window");
    EXPECT_EQ(command("printPage")->error, "No window to print");
    auto webView = std::make_shared<FakeWebView>();
    auto window = std::make_shared<FakeWindow>();
    m_bridge->setWebView(webView);
    m_bridge->setWindow(window);
    // succeeded, written, the answer's error
    const std::tuple<bool, std::string, std::optional<std::string>> outcomes[] = {
        { true, "%PDF-1.4 the page", std::nullopt }, { false, "%PDF-1.4 half", "Printing to PDF failed" },
        { true, "", "Printing to PDF failed" },
    };
    std::set<fs::path> files;
    for (const auto& [succeeded, written, error] : outcomes) {
        SCOPED_TRACE(written);
        auto answer = command("printPdf");
        ASSERT_EQ(webView->prints.size(), files.size() + 1);
        auto run = webView->prints.back();
        EXPECT_EQ(run.destination, WebView::PrintDestination::PdfFile);
        EXPECT_TRUE(files.insert(run.file).second) << "a file of its own each time";
        writeText(run.file, written);
        run.completion(succeeded, "");
        EXPECT_EQ(answer->error, error);
        EXPECT_EQ(answer->result, error ? std::nullopt : std::optional(Json(base64Encode(written)).dump()));
        EXPECT_FALSE(fs::exists(run.file));
    }

    using enum WebView::PrintDestination;
    const std::tuple<const char*, std::vector<std::string>, std::vector<WebView::PrintDestination>, std::vector<bool>> cases[] = {
        { "a double click on Save as PDF", { "printPdf", "printPdf" }, { PdfFile, PdfFile }, { false, false } },
        { "paper while a PDF is made", { "printPdf", "printPage" }, { PdfFile, PrintDialog }, { false, false } },
        { "a PDF while the dialog is open", { "printPage", "printPdf" }, { PrintDialog, PdfFile }, { false, false } },
        { "a second dialog while one is open", { "printPage", "printPage" }, { PrintDialog }, { false, true } },
        { "a second dialog while one waits", { "printPdf", "printPage", "printPage", "printPdf" }, { PdfFile, PrintDialog, PdfFile },
            { false, false, true, false } },
    };
    for (const auto& [name, commands, order, busy] : cases) {
        SCOPED_TRACE(name);
        webView->prints.clear();
        std::vector<std::shared_ptr<CommandAnswer>> answers;
        for (const auto& cmd : commands)
            answers.push_back(command(cmd));
        std::vector<WebView::PrintDestination> seen;
        for (size_t finished = 0; finished < webView->prints.size(); ++finished) {
            EXPECT_EQ(webView->prints.size(), finished + 1) << "only one print runs";
            seen.push_back(webView->prints[finished].destination);
            auto run = webView->prints[finished];
            run.completion(false, {});
            run.completion(false, {}); // a second end of the same run starts nothing more
        }
        EXPECT_EQ(seen, order);
        for (size_t index = 0; index < answers.size(); ++index) {
            EXPECT_EQ(answers[index]->calls, 1) << index;
            EXPECT_EQ(answers[index]->json().is_object() && answers[index]->json().value("busy", false), busy[index]) << index;
        }
    }

    webView->prints.clear();
    std::vector<std::shared_ptr<CommandAnswer>> answers;
    for (size_t index = 0; index < PrintCommands::maximumWaitingPrints + 1; ++index)
        answers.push_back(command("printPdf"));
    EXPECT_NE(command("printPdf")->error.value_or("").find("still making"), std::string::npos);
    // The view goes while the first print runs: the ones waiting are told, none is left hanging.
    auto running = webView->prints[0].completion;
    webView.reset();
    running(false, {});
    for (auto& answer : answers)
        EXPECT_EQ(std::pair(answer->calls, answer->error), std::pair(1, std::optional<std::string>("Printing to PDF failed")));
}

// Which paths count as inside the inbox is the inbox's own test; here, each command's answer.
TEST_F(PrintCommandTest, PrintedFilesAreReadOpenedAndTrashedOnlyInsideTheInbox)
{
    const auto folder = inbox().inboxFolder();
    writeText(folder / "a.pdf", "%PDF-1.4 a");
    writeText(m_folder / "outside.pdf", "%PDF-1.4 secret");
    writeText(folder / "huge.pdf", "");
    fs::resize_file(folder / "huge.pdf", Store::pageReadLimit + 1);
    const Json inside = Json::array({ (folder / "a.pdf").string() });
    const Json outside = Json::array({ (folder / ".." / "outside.pdf").string() });

    auto read = command("readPrinted", inside);
    auto huge = command("readPrinted", Json::array({ (folder / "huge.pdf").string() }));
    m_clock.runBackground();
    EXPECT_EQ(read->calls, 0) << "read on the background queue, answered on the main one";
    m_clock.runPosted();
    EXPECT_EQ(read->json(), base64Encode("%PDF-1.4 a"));
    EXPECT_EQ(huge->error, Store::pageReadLimitMessage()) << "refused by its size, without being read";
    EXPECT_EQ(command("readPrinted", outside)->error, "Not allowed");
    fs::remove(folder / "huge.pdf");

    EXPECT_EQ(command("openPrinted", outside)->json(), false);
    EXPECT_EQ(command("openPrinted", inside)->json(), true);
    EXPECT_EQ(command("deletePrinted", outside)->json(), false);
    m_workspace.trashWorks = false;
    EXPECT_EQ(command("deletePrinted", inside)->json(), false);
    m_workspace.trashWorks = true;
    EXPECT_EQ(command("deletePrinted", inside)->json(), true);
    EXPECT_EQ(m_workspace.trashed, std::vector { fs::path(inside[0].get<std::string>()) });
    EXPECT_EQ(readText(m_folder / "outside.pdf"), "%PDF-1.4 secret");
    EXPECT_EQ(command("listPrinted")->json(), Json::array());
}

TEST_F(PrintCommandTest, PrinterOffRemovesOurQueueAndSetupTurnsItBackOn)
{
    const auto setting = [&] { return config().value("printer", Json()); };
    auto setup = command("printerSetup");
    m_clock.runPosted();
    EXPECT_EQ(setup->calls, 0) << "the new server gets a second to listen before the queue is set up";
    m_clock.advance(1000ms);
    EXPECT_EQ(setup->json()["ok"], true);

    auto off = command("printerOff");
    m_clock.runPosted();
    EXPECT_EQ(std::pair(off->json()["running"], off->json()["enabled"]), std::pair(Json(false), Json(false)));
    EXPECT_EQ(m_runner.runsOf(tools.lpadmin).back(), (std::vector<std::string> { tools.lpadmin, "-x", "Quillpost_PDF" }));
    EXPECT_EQ(setting(), "off");

    auto again = command("printerSetup");
    m_clock.advance(1000ms);
    EXPECT_EQ(again->json()["enabled"], true);
    EXPECT_EQ(setting(), Json());
}

}
}
