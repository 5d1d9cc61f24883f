#pragma once

#include "common/Json.h"
#include "platform/Clock.h"
#include "platform/PracticeDatabase.h"
#include "share/SyncState.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace quillpost {

class BackgroundQueue;
class Keyring;
class MainQueue;

// Shares the practice's records with other desks through a PostgreSQL server. data.json stays
// this desk's working copy: after each save (and on start, on another desk's change, on
// reconnecting) a worker thread compares it with what was last agreed with the server, sends this
// desk's changes, merges where both sides changed, and hands what arrived to the page, which saves
// it through the store as any edit. Off until a server is set up: no thread, no file.
class PracticeShare {
public:
    struct Services {
        std::filesystem::path dataFile;
        std::filesystem::path stateFile;
        std::function<std::unique_ptr<PracticeDatabase>()> openDatabase;
        Keyring& keyring;
        Clock& clock;
        MainQueue& mainQueue;
        BackgroundQueue& background;
        // Keeps a copy of data.json before a joining desk's records are replaced; false when it couldn't.
        std::function<bool()> safetyCopy;
        // Off in unit tests, which drive the work with step() themselves.
        bool workerThread { true };
    };

    enum class State { Off, Connecting, Connected, CatchingUp, Offline };
    enum class Mode { Upload, Join };

    explicit PracticeShare(Services);
    ~PracticeShare();
    PracticeShare(const PracticeShare&) = delete;
    PracticeShare& operator=(const PracticeShare&) = delete;

    static PracticeShare& shared();

    // Main thread: the page's hooks. deliver gets { changes: [{ collection, id, record }] }.
    std::function<void(const Json& changes)> deliver;
    std::function<void(const Json& status)> stateChanged;

    // { enabled, state, since, lastError, desk, pending }
    Json status() const;

    // Main thread. done runs on the main thread with nothing or a sentence saying what failed.
    using Done = std::function<void(std::optional<std::string> error)>;
    void test(const ServerAddress&, const std::string& password, Done);
    void start(const ServerAddress&, const std::string& password, Mode, Done);
    // Stops sharing: the local data stays, sync-state.json and the kept password go.
    void stop();
    // At start-up: goes on sharing when this desk was set up for it.
    void resume();
    // data.json was saved: a cycle soon. Cheap; any thread.
    void dataSaved();
    // The page (re)loaded from data.json: versions it was given and didn't save yet are given again.
    void pageLoaded();

    // One turn of the worker: connects when needed and runs a cycle when due. Answers how long to
    // wait before the next turn; zero means "until a change is announced or data.json is saved".
    std::chrono::milliseconds step(PracticeDatabase&, bool due);
    // The wait before the next attempt after this many failures in a row: 1 s doubling to 60 s.
    static std::chrono::milliseconds retryDelay(int failures);
    // How often a connected desk looks for changes when no announcement came.
    static constexpr std::chrono::seconds pollInterval { 5 };

    // The keyring's item for a server's password.
    static constexpr const char* keyringService = "Quillpost Practice Server";
    static std::string keyringAccount(const ServerAddress&);

    // The sentences the page shows.
    static constexpr const char* encryptedRefusal = "An encrypted practice can't be shared yet: its records would leave this desk readable.";

private:
    struct Worker {
        std::mutex lock;
        std::condition_variable wake;
        bool stopping { false };
        bool kicked { false };
        std::thread thread;
    };

    void cycle(PracticeDatabase&);
    void launch(std::string password, std::unique_ptr<PracticeDatabase>);
    void run(std::shared_ptr<Worker>, std::unique_ptr<PracticeDatabase>);
    void setStatus(State, std::string error);
    void post(std::function<void()>);
    std::int64_t nowMilliseconds() const;
    void countPending();

    Services m_services;

    // The worker's own: only the worker thread (or start, before it runs) touches them.
    std::optional<SyncState> m_sync;
    std::string m_password;
    int m_failures { 0 };
    bool m_redeliver { true };

    mutable std::mutex m_statusLock;
    State m_state { State::Off };
    std::optional<std::int64_t> m_offlineSince;
    std::string m_lastError;
    std::string m_desk;
    std::size_t m_pending { 0 };
    std::atomic<bool> m_redeliverAsked { false };

    std::shared_ptr<Worker> m_worker;
};

}
