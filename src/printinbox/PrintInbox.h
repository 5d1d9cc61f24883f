#pragma once

#include "common/Json.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "platform/ProcessRunner.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillpost {

class Store;

// Where the print system's tools live on this platform: the one place that names them.
struct PrintTools {
    std::string server { "/usr/sbin/ippeveprinter" };
    std::string lpadmin { "/usr/sbin/lpadmin" };
    std::string cupsenable { "/usr/sbin/cupsenable" };
    std::string cupsdisable { "/usr/sbin/cupsdisable" };
    std::string lpstat { "/usr/bin/lpstat" };
    std::string ps { "/bin/ps" };
    // Asks the system bus whether avahi-daemon is there; a missing tool skips that question.
    std::string gdbus { "/usr/bin/gdbus" };
};

// The virtual printer "Quillpost PDF" and the inbox its jobs land in. The printer is a local IPP
// server (ippeveprinter) run as our child, keeping each job as a file in the spool folder, and
// the CUPS queue "Quillpost_PDF" whose device is that server. While the server isn't listening the
// queue is held (stopped, new jobs held), so jobs printed meanwhile wait in CUPS instead of going to
// whatever may listen on the port, and arrive once the server is back. Every tool runs
// asynchronously through the process runner; its completion comes back on the main thread.
class PrintInbox {
public:
    struct Services {
        Store& store;
        ProcessRunner& runner;
        MainQueue& mainQueue;
        Clock& clock;
        PrintTools tools {};
        // Whether nothing listens on 127.0.0.1 at the port; a real bind unless a test says otherwise.
        std::function<bool(int port)> portFree {};
        std::function<bool(const std::string& path)> executable {};
    };

    static constexpr const char* queueName = "Quillpost_PDF";
    static constexpr int candidatePorts[] = { 47631, 47632, 47633, 47634, 47635 };

    static PrintInbox& shared();

    explicit PrintInbox(Services);
    ~PrintInbox();

    PrintInbox(const PrintInbox&) = delete;
    PrintInbox& operator=(const PrintInbox&) = delete;

    // False exactly when the setting "printer" is "off".
    bool enabled() const;
    bool running() const;
    int port() const { return m_port; }
    const std::string& lastError() const { return m_lastError; }

    std::filesystem::path inboxFolder() const;
    std::filesystem::path spoolFolder() const;

    // Starts the server when it can and should run, holding the queue until the server listens;
    // done runs once the attempt has ended.
    void start(std::function<void()> done = {});
    // Makes sure the queue exists, points at the running server and is released.
    void ensureQueue(std::function<void(bool ok)> done);
    // Stops collecting and stops the server. The queue stays, held, so jobs printed meanwhile wait in it.
    void stop();
    void removeQueue(std::function<void()> done = {});
    void status(std::function<void(Json)> done);

    // The inbox.
    Json info(const std::filesystem::path&) const;
    // Newest first.
    Json list() const;
    // The file a path from the page names, when it is a file directly in the inbox.
    std::optional<std::filesystem::path> inside(const std::string& path) const;
    // One tick of the collection: delivers the spool files that have stopped growing.
    void collect();

    // Called on the main thread with the info record of each delivered file.
    std::function<void(const Json&)> onArrive;

private:
    // Whether what ippeveprinter needs is there: the system bus, avahi-daemon on it, and cupsd.
    // Answers with what is missing, or an empty text.
    void checkSystem(std::function<void(std::string missing)> done);
    void launch(std::function<void()> done);
    void stopStale(std::function<void()> done);
    void waitForStaleExit(int pid, int checksLeft, std::function<void()> done);
    void whenListening(unsigned generation, int checksLeft, std::function<void()> done);
    void holdQueue();
    std::optional<int> freePort() const;
    void scheduleCollection();
    void deliver(const std::filesystem::path& spoolFile);
    void run(std::vector<std::string> arguments, std::function<void(ProcessRunner::Result)> completion);

    Services m_services;
    const std::string m_queue { queueName };
    std::unique_ptr<ProcessRunner::Child> m_server;
    std::optional<TimerId> m_timer;
    int m_port { 0 };
    std::string m_lastError;
    bool m_starting { false };
    // This run has started the printer, so the queue is ours to hold when it stops.
    bool m_holdsQueue { false };
    std::vector<std::function<void()>> m_startWaiters;
    // Bumped by stop(), so that a start still waiting for a stale server gives up.
    unsigned m_generation { 0 };
    struct Sighting {
        std::uintmax_t size { 0 };
        Clock::TimePoint at;
    };
    std::map<std::string, Sighting> m_seen;
    // Completions of tools that end after this object is gone find it empty.
    std::shared_ptr<PrintInbox*> m_self;
};

// Names of delivered files.
namespace InboxNames {

// The job's title from the server's spool file name: "12-Form_IMM5257_pdf.pdf" → "Form_IMM5257".
std::string jobTitle(const std::string& spoolName);
// FIXME: fold into Store::safeFile; the two were written side by side and their rules differ in
// small ways (which characters go, where a long name is cut) that need reconciling first.
std::string safeFile(const std::string& name);
std::filesystem::path uniquePath(const std::filesystem::path& folder, const std::string& name, int counter);

}

}
