#include "printinbox/PrintInbox.h"

#include "doubles/FakeProcessRunner.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/Store.h"

#include <gtest/gtest.h>

#include <set>

namespace quillpost {
namespace {

using Arguments = std::vector<std::string>;
using Calls = std::vector<Arguments>;
using namespace std::chrono_literals;

const PrintTools tools;
const Arguments holdNew { tools.cupsdisable, "--hold", "Quillpost_PDF" };
const Arguments pause { tools.cupsdisable, "Quillpost_PDF" };
const Arguments resume { tools.cupsenable, "Quillpost_PDF" };
const Arguments releaseHeld { tools.cupsenable, "--release", "Quillpost_PDF" };

class PrinterTest : public testing::Test {
protected:
    PrinterTest()
        : m_store(Store::Location { m_folder.path(), true, m_folder / "home", m_folder / "documents" }, Store::Services { m_clock, m_clock, m_clock })
    {
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
    }

    PrintInbox& inbox()
    {
        if (!m_inbox) {
            m_inbox = std::make_unique<PrintInbox>(PrintInbox::Services { m_store, m_runner, m_clock, m_clock, tools,
                [this](int port) { return !m_busyPorts.contains(port) && !(m_serverListens && m_runner.runningWith(std::to_string(port))); },
                [this](const std::string& path) { return m_installed && (path == tools.server || path == tools.gdbus); } });
        }
        return *m_inbox;
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

    bool pidSaved() { return Json::parse(readText(m_folder / "config.json")).contains("printerPid"); }

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

    TemporaryFolder m_folder { "quillpost-printer" };
    VirtualClock m_clock;
    Store m_store;
    FakeProcessRunner m_runner { m_clock };
    std::unique_ptr<PrintInbox> m_inbox;
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
};

TEST_F(PrinterTest, StartsTheServerAndAddsTheQueueWithExactCommandLines)
{
    EXPECT_EQ(status(), (Json { { "available", true }, { "enabled", true }, { "running", false }, { "queue", false }, { "port", 0 }, { "error", "" },
                            { "inbox", (m_folder / "Print Inbox").string() } }));
    startAndSettle();
    auto spool = (m_folder / "Print Inbox" / ".spool").string();
    EXPECT_EQ(m_runner.starts, (Calls { { tools.server, "-n", "localhost", "-p", "47631", "-r", "off", "-f", "application/pdf", "-k", "-d", spool,
                                   "-M", "Quillpost", "-m", "PDF copy", "Quillpost PDF" } }));
    EXPECT_TRUE(std::filesystem::is_directory(spool));
    EXPECT_TRUE(pidSaved());
    EXPECT_EQ(queueChanges(), (Calls { holdNew, pause,
                                  { tools.lpadmin, "-p", "Quillpost_PDF", "-E", "-v", "ipp://localhost:47631/ipp/print", "-m", "everywhere", "-D",
                                      "Quillpost PDF", "-L", "Saves into Quillpost", "-o", "printer-error-policy=retry-job" },
                                  resume, releaseHeld }));
    auto running = status();
    EXPECT_EQ(running["queue"], true);
    EXPECT_EQ(running["running"], true);
    EXPECT_EQ(running["port"], 47631);
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
    auto added = m_runner.runsOf(tools.lpadmin);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0][5], "ipp://localhost:47632/ipp/print");
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
        EXPECT_FALSE(pidSaved()) << why;
    }
    EXPECT_NE(inbox().lastError().find("stopped"), std::string::npos);
    EXPECT_EQ(m_clock.pendingTimers(), 0u) << "nothing collects for a server that is gone";
}

TEST_F(PrinterTest, TheQueueStaysHeldWhenTheServerNeverListensOrStopsFirst)
{
    m_serverListens = false;
    inbox().start();
    settle(20000ms);
    EXPECT_EQ(queueChanges(), (Calls { holdNew, pause }));
    EXPECT_NE(inbox().lastError().find("didn't start listening"), std::string::npos);

    // Stopped within a second of a start: never released, held again.
    inbox().stop();
    m_serverListens = true;
    inbox().start();
    m_clock.advance(500ms);
    inbox().stop();
    settle(20000ms);
    EXPECT_EQ(queueChanges(2), (Calls { holdNew, pause, holdNew, pause, holdNew, pause }));

    // Switched off within a second of a start: the queue check must not put the queue back.
    inbox().start();
    m_clock.runPosted();
    inbox().stop();
    inbox().removeQueue();
    m_clock.advance(5000ms);
    EXPECT_EQ(m_runner.runsOf(tools.lpadmin), (Calls { { tools.lpadmin, "-x", "Quillpost_PDF" } }));
    EXPECT_TRUE(m_runner.children.back()->terminated);
    EXPECT_EQ(m_clock.pendingTimers(), 0u) << "the collection stops with the server";

    // No free port: the queue stays held, and a quit afterwards holds it again.
    const size_t before = queueChanges().size();
    m_busyPorts = { 47631, 47632, 47633, 47634, 47635 };
    startAndSettle();
    inbox().stop();
    m_clock.runPosted();
    EXPECT_EQ(queueChanges(before), (Calls { holdNew, pause, holdNew, pause }));
}

}
}
