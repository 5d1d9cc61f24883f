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
using namespace std::chrono_literals;

const PrintTools tools;

class PrinterTest : public testing::Test {
protected:
    PrinterTest()
        : m_store(Store::Location { m_folder.path(), true, m_folder / "home", m_folder / "documents" }, Store::Services { m_clock, m_clock, m_clock })
    {
        // The print system as on a machine where the queue doesn't exist yet.
        m_runner.respond = [this](const Arguments& arguments) -> ProcessRunner::Result {
            if (arguments[0] == tools.lpstat)
                return { true, m_queueUri.empty() ? 1 : 0, m_queueUri.empty() ? "" : "device for Quillpost_PDF: " + m_queueUri + m_lpstatTail, m_queueUri.empty() ? "lpstat: Invalid destination name" : "" };
            if (arguments[0] == tools.lpadmin && arguments[1] == "-p" && m_lpadminError.empty())
                m_queueUri = arguments[5];
            if (arguments[0] == tools.lpadmin && !m_lpadminError.empty())
                return { true, 1, {}, m_lpadminError };
            if (arguments[0] == tools.ps)
                return { true, 0, m_psAnswer, {} };
            return { true, 0, {}, {} };
        };
    }

    PrintInbox& inbox()
    {
        if (!m_inbox) {
            m_inbox = std::make_unique<PrintInbox>(PrintInbox::Services { m_store, m_runner, m_clock, m_clock, tools,
                [this](int port) { return !m_busyPorts.contains(port); },
                [this](const std::string& path) { return m_installed && path == tools.server; } });
        }
        return *m_inbox;
    }

    // Starts and lets the queue check that follows a start run.
    void startAndSettle()
    {
        inbox().start();
        m_clock.runPosted();
        m_clock.advance(1000ms);
        m_clock.runPosted();
    }

    Json savedSettings() { return Json::parse(readText(m_folder / "config.json")); }

    TemporaryFolder m_folder { "quillpost-printer" };
    VirtualClock m_clock;
    Store m_store;
    FakeProcessRunner m_runner { m_clock };
    std::unique_ptr<PrintInbox> m_inbox;
    std::set<int> m_busyPorts;
    bool m_installed { true };
    std::string m_queueUri;
    std::string m_lpstatTail { "\n" };
    std::string m_lpadminError;
    std::string m_psAnswer;
};

TEST_F(PrinterTest, StartsTheServerAndAddsTheQueueWithExactCommandLines)
{
    startAndSettle();

    ASSERT_EQ(m_runner.starts.size(), 1u);
    auto spool = (m_folder / "Print Inbox" / ".spool").string();
    EXPECT_EQ(m_runner.starts[0], (Arguments { tools.server, "-n", "localhost", "-p", "47631", "-r", "off", "-f", "application/pdf", "-k", "-d", spool,
                                      "-M", "Quillpost", "-m", "PDF copy", "Quillpost PDF" }));
    EXPECT_TRUE(std::filesystem::is_directory(spool));
    EXPECT_EQ(savedSettings()["printerPid"], 4242);

    auto added = m_runner.runsOf(tools.lpadmin);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0], (Arguments { tools.lpadmin, "-p", "Quillpost_PDF", "-E", "-v", "ipp://localhost:47631/ipp/print", "-m", "everywhere",
                            "-D", "Quillpost PDF", "-L", "Saves into Quillpost", "-o", "printer-error-policy=retry-job" }));
    EXPECT_EQ(m_runner.runsOf(tools.cupsenable), (std::vector<Arguments> { { tools.cupsenable, "Quillpost_PDF" } }));
    EXPECT_TRUE(inbox().running());
    EXPECT_EQ(inbox().lastError(), "");
}

TEST_F(PrinterTest, AQueueInPlaceIsKeptAndOneOnAnotherPortIsRepointed)
{
    m_queueUri = "ipp://localhost:47631/ipp/print";
    m_lpstatTail = "  \r\n";
    startAndSettle();
    EXPECT_TRUE(m_runner.runsOf(tools.lpadmin).empty()) << "trailing white space still counts as the same device";
    EXPECT_EQ(m_runner.runsOf(tools.cupsenable).size(), 1u);

    // Another program holds the first port at the next launch.
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
}

TEST_F(PrinterTest, DoesNothingWhenMissingTurnedOffOrAlreadyRunning)
{
    m_installed = false;
    startAndSettle();
    EXPECT_TRUE(m_runner.starts.empty());
    std::optional<Json> status;
    inbox().status([&](Json answer) { status = answer; });
    m_clock.runPosted();
    EXPECT_EQ((*status)["available"], false);

    m_installed = true;
    m_store.config()["printer"] = "off";
    startAndSettle();
    EXPECT_TRUE(m_runner.starts.empty());
    inbox().status([&](Json answer) { status = answer; });
    m_clock.runPosted();
    EXPECT_EQ((*status)["enabled"], false);
    EXPECT_EQ((*status)["running"], false);

    m_store.config()["printer"] = true; // anything but "off" means on
    startAndSettle();
    inbox().start();
    m_clock.runPosted();
    EXPECT_EQ(m_runner.starts.size(), 1u);
}

TEST_F(PrinterTest, EndsAStaleServerOnlyWhenItIsOurs)
{
    m_store.config()["printerPid"] = 777;
    m_runner.livePids = { 777 };
    m_psAnswer = "bash\n";
    startAndSettle();
    EXPECT_EQ(m_runner.runsOf(tools.ps), (std::vector<Arguments> { { tools.ps, "-p", "777", "-o", "comm=" } }));
    EXPECT_TRUE(m_runner.terminatedPids.empty()) << "the id belongs to another program now";
    inbox().stop();

    // A server that ignores SIGTERM is checked 20 times, 50 ms apart, and then left.
    m_store.config()["printerPid"] = 777;
    m_psAnswer = "ippeveprinter\n";
    m_runner.staleServerObeys = false;
    m_runner.aliveChecks = 0;
    inbox().start();
    m_clock.runPosted();
    EXPECT_EQ(m_runner.terminatedPids, (std::vector<int> { 777 }));
    EXPECT_EQ(m_runner.starts.size(), 1u) << "the new server waits for the old one";
    // Set up asked for meanwhile waits for the start under way instead of finding no server.
    bool waited = false;
    inbox().start([&] { waited = inbox().running(); });
    m_clock.advance(999ms);
    EXPECT_EQ(m_runner.starts.size(), 1u);
    m_clock.advance(1ms);
    EXPECT_EQ(m_runner.aliveChecks, 20);
    EXPECT_EQ(m_runner.starts.size(), 2u);
    m_clock.advance(1000ms);
    EXPECT_TRUE(waited);
}

TEST_F(PrinterTest, IgnoresStoredIdsThatAreNoProcess)
{
    for (Json stored : { Json(0), Json(-5), Json("777"), Json(7.5), Json(true), Json(std::int64_t(1) << 40) }) {
        m_store.config()["printerPid"] = stored;
        inbox().start();
        m_clock.runPosted();
        inbox().stop();
    }
    EXPECT_TRUE(m_runner.runsOf(tools.ps).empty());
    EXPECT_EQ(m_runner.starts.size(), 6u);
}

TEST_F(PrinterTest, StopWinsOverAStartStillUnderWay)
{
    // Switched off while the old server was being ended: no server comes up afterwards.
    m_store.config()["printerPid"] = 777;
    m_runner.livePids = { 777 };
    m_runner.staleServerObeys = false;
    m_psAnswer = "ippeveprinter";
    inbox().start();
    m_clock.runPosted();
    inbox().stop();
    m_clock.advance(2000ms);
    EXPECT_TRUE(m_runner.starts.empty());

    // Switched off within a second of a start: the queue check must not put the queue back.
    m_store.config().erase("printerPid");
    inbox().start();
    m_clock.runPosted();
    inbox().stop();
    inbox().removeQueue();
    m_clock.advance(5000ms);
    EXPECT_EQ(m_runner.runsOf(tools.lpadmin), (std::vector<Arguments> { { tools.lpadmin, "-x", "Quillpost_PDF" } }));
    EXPECT_TRUE(m_runner.children.back()->terminated);
    EXPECT_FALSE(savedSettings().contains("printerPid"));
    EXPECT_EQ(m_clock.pendingTimers(), 0u) << "the collection stops with the server";
}

TEST_F(PrinterTest, StatusReportsTheQueueFromLpstat)
{
    std::optional<Json> status;
    inbox().status([&](Json answer) { status = answer; });
    m_clock.runPosted();
    EXPECT_EQ(*status, (Json { { "available", true }, { "enabled", true }, { "running", false }, { "queue", false }, { "port", 0 }, { "error", "" },
                           { "inbox", (m_folder / "Print Inbox").string() } }));

    startAndSettle();
    inbox().status([&](Json answer) { status = answer; });
    m_clock.runPosted();
    EXPECT_EQ((*status)["queue"], true);
    EXPECT_EQ((*status)["running"], true);
    EXPECT_EQ((*status)["port"], 47631);

    // The server died on its own.
    m_runner.children.back()->alive = false;
    inbox().status([&](Json answer) { status = answer; });
    m_clock.runPosted();
    EXPECT_EQ((*status)["running"], false);
}

}
}
