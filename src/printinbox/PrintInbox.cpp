#include "printinbox/PrintInbox.h"

#include "store/Store.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quillpost {

namespace {

constexpr std::chrono::milliseconds queueCheckDelay { 1000 };
// After the first second, how often and how many more times a start looks for the server listening.
constexpr std::chrono::milliseconds listenCheckInterval { 250 };
constexpr int listenChecks = 36;
constexpr std::chrono::milliseconds staleCheckInterval { 50 };
constexpr int staleChecks = 20;

constexpr const char* noSystemBus = "The printer can't start because the system's message bus (D-Bus) isn't running.";
constexpr const char* noAvahi = "The printer can't start because the avahi-daemon service isn't running.";
constexpr const char* noCupsd = "The printer can't start because the print system (cupsd) isn't running.";

bool canBindLoopback(int port)
{
    int socketHandle = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socketHandle < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool bound = ::bind(socketHandle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(socketHandle);
    return bound;
}

bool isExecutableFile(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

std::string trimmed(std::string_view text)
{
    constexpr std::string_view space = " \t\r\n\v\f";
    auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(space);
    return std::string(text.substr(first, last - first + 1));
}

}

PrintInbox::PrintInbox(Services services)
    : m_services(std::move(services))
    , m_self(std::make_shared<PrintInbox*>(this))
{
    if (!m_services.portFree)
        m_services.portFree = canBindLoopback;
    if (!m_services.executable)
        m_services.executable = isExecutableFile;
}

PrintInbox::~PrintInbox()
{
    *m_self = nullptr;
    if (m_timer)
        m_services.mainQueue.cancel(*m_timer);
}

bool PrintInbox::enabled() const
{
    auto& config = m_services.store.config();
    auto setting = config.find("printer");
    return !(setting != config.end() && setting->is_string() && setting->get<std::string>() == "off");
}

bool PrintInbox::running() const
{
    return m_server && m_server->running();
}

std::filesystem::path PrintInbox::inboxFolder() const
{
    return m_services.store.dir() / "Print Inbox";
}

std::filesystem::path PrintInbox::spoolFolder() const
{
    return inboxFolder() / ".spool";
}

void PrintInbox::run(std::vector<std::string> arguments, std::function<void(ProcessRunner::Result)> completion)
{
    std::weak_ptr<PrintInbox*> self = m_self;
    m_services.runner.run(arguments, [self, completion = std::move(completion)](ProcessRunner::Result result) {
        auto alive = self.lock();
        if (alive && *alive)
            completion(std::move(result));
    });
}

void PrintInbox::start(std::function<void()> done)
{
    if (!done)
        done = [] {};
    // A start under way answers everyone who asked meanwhile when it ends.
    if (m_starting) {
        m_startWaiters.push_back(std::move(done));
        return;
    }
    if (!m_services.executable(m_services.tools.server) || !enabled() || running()) {
        done();
        return;
    }
    std::error_code ignored;
    std::filesystem::create_directories(spoolFolder(), ignored);

    // A queue left enabled by a run that crashed points at a port anyone may have taken since;
    // it is held until our server listens.
    m_holdsQueue = true;
    holdQueue();
    m_starting = true;
    m_startWaiters.push_back(std::move(done));
    auto generation = m_generation;
    stopStale([this, generation] {
        m_starting = false;
        auto waiters = std::move(m_startWaiters);
        m_startWaiters.clear();
        auto finish = [waiters = std::move(waiters)] {
            for (auto& waiter : waiters)
                waiter();
        };
        // stop() came while the stale server was being ended: the printer stays off.
        if (generation != m_generation) {
            finish();
            return;
        }
        checkSystem([this, generation, finish = std::move(finish)](std::string missing) {
            if (generation != m_generation) {
                finish();
                return;
            }
            if (!missing.empty()) {
                m_lastError = std::move(missing);
                finish();
                return;
            }
            launch(finish);
        });
    });
}

void PrintInbox::checkSystem(std::function<void(std::string missing)> done)
{
    auto askCupsd = [this, done] {
        run({ m_services.tools.lpstat, "-r" }, [done](ProcessRunner::Result scheduler) {
            done(scheduler.output.find("not running") != std::string::npos ? noCupsd : "");
        });
    };
    if (!m_services.executable(m_services.tools.gdbus)) {
        askCupsd();
        return;
    }
    run({ m_services.tools.gdbus, "call", "--system", "--timeout", "5", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
            "--method", "org.freedesktop.DBus.NameHasOwner", "org.freedesktop.Avahi" },
        [done, askCupsd = std::move(askCupsd)](ProcessRunner::Result owner) {
            if (!owner.started) {
                askCupsd();
                return;
            }
            if (owner.exitStatus != 0) {
                done(noSystemBus);
                return;
            }
            if (owner.output.find("true") == std::string::npos) {
                done(noAvahi);
                return;
            }
            askCupsd();
        });
}

void PrintInbox::stopStale(std::function<void()> done)
{
    auto& config = m_services.store.config();
    auto stored = config.find("printerPid");
    if (stored == config.end() || !stored->is_number_integer() || stored->get<std::int64_t>() <= 0 || stored->get<std::int64_t>() > std::numeric_limits<int>::max()) {
        done();
        return;
    }
    int pid = static_cast<int>(stored->get<std::int64_t>());
    run({ m_services.tools.ps, "-p", std::to_string(pid), "-o", "comm=" }, [this, pid, done = std::move(done)](ProcessRunner::Result result) {
        // The id may belong to another program by now; only our server is ended.
        if (result.exitStatus != 0 || result.output.find("ippeveprinter") == std::string::npos) {
            done();
            return;
        }
        m_services.runner.terminate(pid);
        waitForStaleExit(pid, staleChecks, std::move(done));
    });
}

void PrintInbox::waitForStaleExit(int pid, int checksLeft, std::function<void()> done)
{
    if (checksLeft == 0 || !m_services.runner.alive(pid)) {
        done();
        return;
    }
    std::weak_ptr<PrintInbox*> self = m_self;
    m_services.mainQueue.after(staleCheckInterval, [self, pid, checksLeft, done = std::move(done)]() mutable {
        auto alive = self.lock();
        if (alive && *alive)
            (*alive)->waitForStaleExit(pid, checksLeft - 1, std::move(done));
    });
}

std::optional<int> PrintInbox::freePort() const
{
    for (int port : candidatePorts) {
        if (m_services.portFree(port))
            return port;
    }
    return std::nullopt;
}

void PrintInbox::launch(std::function<void()> done)
{
    auto port = freePort();
    if (!port) {
        m_lastError = "No free port for the printer";
        done();
        return;
    }
    std::string error;
    auto server = m_services.runner.start({ m_services.tools.server, "-n", "localhost", "-p", std::to_string(*port), "-r", "off",
                                              "-f", "application/pdf", "-k", "-d", spoolFolder().string(), "-M", "Quillpost", "-m", "PDF copy", "Quillpost PDF" },
        error);
    if (!server) {
        m_lastError = "Couldn't start the printer: " + error;
        done();
        return;
    }
    m_server = std::move(server);
    m_port = *port;
    m_services.store.config()["printerPid"] = m_server->pid();
    m_services.store.saveConfig();

    scheduleCollection();
    // The server takes a moment to listen; the queue is released then, and whoever waits for
    // the start gets to ask for the queue after that.
    std::weak_ptr<PrintInbox*> self = m_self;
    m_services.mainQueue.after(queueCheckDelay, [self, generation = m_generation, done = std::move(done)]() mutable {
        auto alive = self.lock();
        if (alive && *alive)
            (*alive)->whenListening(generation, listenChecks, std::move(done));
    });
}

void PrintInbox::whenListening(unsigned generation, int checksLeft, std::function<void()> done)
{
    // Stopped meanwhile, or the server ended: the queue stays held.
    if (generation != m_generation || !running()) {
        done();
        return;
    }
    if (!m_services.portFree(m_port)) {
        ensureQueue([done = std::move(done)](bool) { done(); });
        return;
    }
    if (checksLeft == 0) {
        m_lastError = "The printer didn't start listening, so jobs printed to it wait until it does.";
        done();
        return;
    }
    std::weak_ptr<PrintInbox*> self = m_self;
    m_services.mainQueue.after(listenCheckInterval, [self, generation, checksLeft, done = std::move(done)]() mutable {
        auto alive = self.lock();
        if (alive && *alive)
            (*alive)->whenListening(generation, checksLeft - 1, std::move(done));
    });
}

void PrintInbox::scheduleCollection()
{
    if (m_timer)
        m_services.mainQueue.cancel(*m_timer);
    std::weak_ptr<PrintInbox*> self = m_self;
    m_timer = m_services.mainQueue.after(std::chrono::milliseconds(1000), [self] {
        auto alive = self.lock();
        if (!alive || !*alive)
            return;
        auto& inbox = **alive;
        inbox.m_timer.reset();
        inbox.collect();
        // collect() may have stopped the printer through onArrive; only a running one keeps collecting.
        if (!inbox.m_server)
            return;
        // A server that ended on its own is stopped for good, and its queue held until the next start.
        if (!inbox.m_server->running()) {
            inbox.stop();
            inbox.m_lastError = "The printer stopped. Jobs printed to it wait until it starts again.";
            return;
        }
        inbox.scheduleCollection();
    });
}

void PrintInbox::ensureQueue(std::function<void(bool ok)> done)
{
    // Without a server the queue would point at a port nobody listens on, and hold every job.
    if (!running()) {
        if (m_lastError.empty())
            m_lastError = "The printer isn't running, so its queue wasn't set up.";
        done(false);
        return;
    }
    std::string uri = "ipp://localhost:" + std::to_string(m_port) + "/ipp/print";
    run({ m_services.tools.lpstat, "-v", m_queue }, [this, uri, done = std::move(done)](ProcessRunner::Result listing) mutable {
        auto enable = [this, done]() {
            // Resumed, and the jobs held while the printer wasn't listening released.
            run({ m_services.tools.cupsenable, m_queue }, [this, done](ProcessRunner::Result) {
                run({ m_services.tools.cupsenable, "--release", m_queue }, [this, done](ProcessRunner::Result) {
                    m_lastError.clear();
                    done(true);
                });
            });
        };
        auto found = listing.output.find("ipp://");
        if (listing.exitStatus == 0 && found != std::string::npos && trimmed(std::string_view(listing.output).substr(found)) == uri) {
            enable();
            return;
        }
        run({ m_services.tools.lpadmin, "-p", m_queue, "-E", "-v", uri, "-m", "everywhere", "-D", "Quillpost PDF", "-L", "Saves into Quillpost",
                "-o", "printer-error-policy=retry-job" },
            [this, enable = std::move(enable), done = std::move(done)](ProcessRunner::Result added) {
                if (added.exitStatus != 0) {
                    m_lastError = "Couldn't add the Quillpost PDF printer. " + trimmed(added.errorOutput);
                    done(false);
                    return;
                }
                enable();
            });
    });
}

void PrintInbox::stop()
{
    ++m_generation;
    if (m_timer)
        m_services.mainQueue.cancel(*m_timer);
    m_timer.reset();
    // Held before the server ends, so that no job goes to a port nobody of ours listens on. The
    // tool runs on after a quit; nothing waits for it.
    if (m_holdsQueue)
        holdQueue();
    if (m_server && m_server->running())
        m_server->terminate();
    m_server.reset();
    m_services.store.config().erase("printerPid");
    m_services.store.saveConfig();
}

void PrintInbox::holdQueue()
{
    // New jobs are held and the queue is paused, so that neither they nor a job still waiting
    // for its retry go anywhere. Both start at once: at a quit nothing waits for the first to
    // end. Without a queue yet they fail harmlessly.
    run({ m_services.tools.cupsdisable, "--hold", m_queue }, [](ProcessRunner::Result) {});
    run({ m_services.tools.cupsdisable, m_queue }, [](ProcessRunner::Result) {});
}

void PrintInbox::removeQueue(std::function<void()> done)
{
    run({ m_services.tools.lpadmin, "-x", m_queue }, [done = std::move(done)](ProcessRunner::Result) {
        if (done)
            done();
    });
}

void PrintInbox::status(std::function<void(Json)> done)
{
    Json answer {
        { "available", m_services.executable(m_services.tools.server) },
        { "enabled", enabled() },
        { "running", running() },
        { "queue", false },
        { "port", m_port },
        { "error", m_lastError },
        { "inbox", inboxFolder().string() },
    };
    run({ m_services.tools.lpstat, "-v", m_queue }, [answer = std::move(answer), done = std::move(done)](ProcessRunner::Result listing) mutable {
        answer["queue"] = listing.exitStatus == 0 && listing.output.find("ipp://") != std::string::npos;
        done(std::move(answer));
    });
}

}
