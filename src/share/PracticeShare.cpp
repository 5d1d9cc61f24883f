#include "share/PracticeShare.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/JsonText.h"
#include "common/Uuid.h"
#include "platform/BackgroundQueue.h"
#include "platform/Keyring.h"
#include "platform/MainQueue.h"
#include "share/RecordDiff.h"
#include "share/RecordMerge.h"
#include "store/SealedForm.h"

#include <algorithm>
#include <set>

namespace quillpost {

namespace {

// Rows are pulled in pages of this many.
constexpr std::size_t pullPage = 500;
// Each pull reaches this many revs back: a write that took its rev before a later one but
// committed after it is still seen. Rows seen before are recognised by their rev and skipped.
constexpr std::int64_t pullOverlap = 32;
// A record whose write keeps losing to other desks' writes is given up on for this cycle.
constexpr int writeAttempts = 8;

// A problem with this desk's own files rather than the server.
class LocalProblem : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

const char* stateName(PracticeShare::State state)
{
    switch (state) {
    case PracticeShare::State::Off:
        return "off";
    case PracticeShare::State::Connecting:
        return "connecting";
    case PracticeShare::State::Connected:
        return "connected";
    case PracticeShare::State::CatchingUp:
        return "catching-up";
    case PracticeShare::State::Offline:
        return "offline";
    }
    return "off";
}

struct LocalRecords {
    std::map<RecordKey, Json> records;
    std::set<std::string> listed;
};

// data.json's shared records. A missing file holds none; one that doesn't read, or is encrypted, stops the cycle.
LocalRecords readLocal(const std::filesystem::path& file, bool mayBeMissing)
{
    const auto bytes = readFile(file);
    if (!bytes) {
        if (mayBeMissing)
            return {};
        throw LocalProblem("The practice's data file isn't there, so nothing was shared.");
    }
    if (isSealedDocument(*bytes))
        throw LocalProblem(PracticeShare::encryptedRefusal);
    const Json document = parseJsonText(*bytes);
    if (document.is_discarded() || !document.is_object())
        throw LocalProblem("The practice's data file doesn't read, so nothing was shared.");
    return { RecordDiff::records(document), RecordDiff::listedCollections(document) };
}

const Json& valueOf(const std::map<RecordKey, Json>& records, const RecordKey& key)
{
    static const Json absent;
    auto found = records.find(key);
    return found == records.end() ? absent : found->second;
}

Json changeEntry(const RecordKey& key, const Json& record)
{
    return Json { { "collection", key.collection }, { "id", key.id }, { "record", record } };
}

}

PracticeShare::PracticeShare(Services services)
    : m_services(std::move(services))
{
}

PracticeShare::~PracticeShare()
{
    if (m_worker) {
        {
            std::lock_guard guard(m_worker->lock);
            m_worker->stopping = true;
        }
        m_worker->wake.notify_all();
        if (m_worker->thread.joinable())
            m_worker->thread.join();
    }
}

std::string PracticeShare::keyringAccount(const ServerAddress& server)
{
    return server.user + "@" + server.hostAndPort() + "/" + server.database;
}

std::chrono::milliseconds PracticeShare::retryDelay(int failures)
{
    if (failures <= 0)
        return std::chrono::milliseconds(0);
    const int doublings = std::min(failures - 1, 6);
    return std::min(std::chrono::milliseconds(1000 << doublings), std::chrono::milliseconds(60000));
}

std::int64_t PracticeShare::nowMilliseconds() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(m_services.clock.now().time_since_epoch()).count();
}

Json PracticeShare::status() const
{
    std::lock_guard guard(m_statusLock);
    return Json {
        { "enabled", m_state != State::Off },
        { "state", stateName(m_state) },
        { "since", m_state == State::Offline && m_offlineSince ? Json(*m_offlineSince) : Json(nullptr) },
        { "lastError", m_lastError },
        { "desk", m_desk },
        { "pending", m_pending },
    };
}

void PracticeShare::post(std::function<void()> task)
{
    m_services.mainQueue.post(std::move(task));
}

void PracticeShare::setStatus(State state, std::string error)
{
    Json now;
    {
        std::lock_guard guard(m_statusLock);
        const bool same = state == m_state && error == m_lastError;
        if (state == State::Offline && m_state != State::Offline)
            m_offlineSince = nowMilliseconds();
        if (state != State::Offline)
            m_offlineSince.reset();
        m_state = state;
        m_lastError = std::move(error);
        if (same)
            return;
    }
    now = status();
    post([this, now] {
        if (stateChanged)
            stateChanged(now);
    });
}

void PracticeShare::test(const ServerAddress& server, const std::string& password, Done done)
{
    m_services.background.async([this, server, password, done = std::move(done)] {
        std::optional<std::string> error;
        try {
            auto database = m_services.openDatabase();
            database->connect(server, password);
            database->disconnect();
        } catch (const DatabaseError& failure) {
            error = failure.what();
        }
        post([done, error] { done(error); });
    });
}

void PracticeShare::start(const ServerAddress& server, const std::string& password, Mode mode, Done done)
{
    if (auto bytes = readFile(m_services.dataFile); bytes && isSealedDocument(*bytes)) {
        done(std::string(encryptedRefusal));
        return;
    }
    stop();
    m_services.background.async([this, server, password, mode, done = std::move(done)] {
        std::optional<std::string> error;
        try {
            auto database = m_services.openDatabase();
            database->connect(server, password);
            database->migrate();
            if (mode == Mode::Upload && database->holdsRecords())
                error = "The server already holds a shared practice: on this desk, use the shared practice instead of uploading this one.";
            else if (mode == Mode::Join && !m_services.safetyCopy())
                error = "No safety copy of this desk's data could be made, so the shared practice wasn't brought in.";
            database->disconnect();
        } catch (const DatabaseError& failure) {
            error = failure.what();
        }
        post([this, server, password, mode, done, error] {
            if (error) {
                done(error);
                return;
            }
            if (!m_services.keyring.write(keyringService, keyringAccount(server), password)) {
                done(std::string("The keyring wouldn't keep the server's password, so sharing wasn't turned on."));
                return;
            }
            SyncState state;
            state.server = server;
            state.desk = randomUuid();
            state.joining = mode == Mode::Join;
            try {
                state.write(m_services.stateFile);
            } catch (const FileError& failure) {
                done(std::string(failure.what()));
                return;
            }
            m_sync = std::move(state);
            launch(password, nullptr);
            done(std::nullopt);
        });
    });
}

void PracticeShare::resume()
{
    if (m_worker)
        return;
    std::optional<SyncState> state;
    try {
        state = SyncState::read(m_services.stateFile);
    } catch (const SyncStateDamaged&) {
        std::error_code ignored;
        auto aside = m_services.stateFile;
        aside.replace_filename("sync-state-unreadable-" + std::to_string(nowMilliseconds()) + ".json");
        std::filesystem::rename(m_services.stateFile, aside, ignored);
        setStatus(State::Off, "This desk's sharing record was damaged and has been put aside: set up the practice server again to go on sharing.");
        return;
    }
    if (!state)
        return;
    {
        std::lock_guard guard(m_statusLock);
        m_desk = state->desk;
    }
    auto password = m_services.keyring.lookup(keyringService, keyringAccount(state->server), Keyring::Interaction::Never);
    m_sync = std::move(state);
    if (!password.found()) {
        setStatus(State::Offline, password.status == Keyring::Lookup::Status::Locked
                ? "The keyring is locked, so the practice server's password can't be read: unlock it and start Quillpost again."
                : "The practice server's password isn't in the keyring: enter it again under Settings → Practice server.");
        return;
    }
    launch(password.value, nullptr);
}

void PracticeShare::launch(std::string password, std::unique_ptr<PracticeDatabase> database)
{
    m_password = std::move(password);
    m_failures = 0;
    m_redeliver = true;
    {
        std::lock_guard guard(m_statusLock);
        m_desk = m_sync->desk;
    }
    setStatus(State::Connecting, "");
    if (!m_services.workerThread)
        return;
    if (!database)
        database = m_services.openDatabase();
    auto worker = std::make_shared<Worker>();
    m_worker = worker;
    worker->thread = std::thread([this, worker, owned = std::move(database)]() mutable { run(worker, std::move(owned)); });
}

void PracticeShare::stop()
{
    if (auto worker = std::exchange(m_worker, nullptr)) {
        {
            std::lock_guard guard(worker->lock);
            worker->stopping = true;
        }
        worker->wake.notify_all();
        if (worker->thread.joinable())
            worker->thread.join();
    }
    if (m_sync) {
        m_services.keyring.remove(keyringService, keyringAccount(m_sync->server));
        m_sync.reset();
    }
    std::error_code ignored;
    std::filesystem::remove(m_services.stateFile, ignored);
    {
        std::lock_guard guard(m_statusLock);
        m_desk.clear();
        m_pending = 0;
    }
    setStatus(State::Off, "");
}

void PracticeShare::dataSaved()
{
    auto worker = m_worker;
    if (!worker)
        return;
    {
        std::lock_guard guard(worker->lock);
        worker->kicked = true;
    }
    worker->wake.notify_all();
}

void PracticeShare::pageLoaded()
{
    m_redeliverAsked = true;
    dataSaved();
}

void PracticeShare::run(std::shared_ptr<Worker> worker, std::unique_ptr<PracticeDatabase> database)
{
    bool due = true;
    auto lastCycle = std::chrono::steady_clock::now();
    auto stopping = [&] {
        std::lock_guard guard(worker->lock);
        return worker->stopping;
    };
    while (!stopping()) {
        if (due)
            lastCycle = std::chrono::steady_clock::now();
        const auto wait = step(*database, due);
        due = false;
        std::unique_lock guard(worker->lock);
        if (wait.count() > 0) {
            // Waiting out a failure: only a stop cuts it short.
            worker->wake.wait_for(guard, wait, [&] { return worker->stopping; });
            due = true;
            continue;
        }
        if (std::exchange(worker->kicked, false)) {
            due = true;
            continue;
        }
        guard.unlock();
        // Listening in short turns, so that a save or a stop is taken up promptly.
        try {
            due = database->waitForChange(std::chrono::milliseconds(250));
        } catch (const DatabaseError&) {
            database->disconnect();
            due = true;
        }
        if (std::chrono::steady_clock::now() - lastCycle >= pollInterval)
            due = true;
    }
    database->disconnect();
}

std::chrono::milliseconds PracticeShare::step(PracticeDatabase& database, bool due)
{
    if (!m_sync)
        return std::chrono::milliseconds(0);
    if (!database.connected()) {
        try {
            database.connect(m_sync->server, m_password);
            database.migrate();
        } catch (const DatabaseError& failure) {
            database.disconnect();
            ++m_failures;
            countPending();
            setStatus(State::Offline, failure.what());
            return retryDelay(m_failures);
        }
        due = true;
    }
    if (!due)
        return std::chrono::milliseconds(0);
    if (m_redeliverAsked.exchange(false))
        m_redeliver = true;
    try {
        if (status()["state"] != "connected")
            setStatus(State::CatchingUp, "");
        cycle(database);
        m_failures = 0;
        setStatus(State::Connected, "");
        return std::chrono::milliseconds(0);
    } catch (const DatabaseError& failure) {
        database.disconnect();
        ++m_failures;
        countPending();
        setStatus(State::Offline, failure.what());
    } catch (const LocalProblem& problem) {
        ++m_failures;
        setStatus(State::Connected, problem.what());
    } catch (const FileError& failure) {
        ++m_failures;
        setStatus(State::Connected, failure.what());
    }
    return retryDelay(m_failures);
}

void PracticeShare::countPending()
{
    std::size_t pending = 0;
    try {
        auto local = readLocal(m_services.dataFile, true);
        pending = RecordDiff::localChanges(local.records, local.listed, m_sync->bases).size();
    } catch (const std::exception&) {
    }
    std::lock_guard guard(m_statusLock);
    m_pending = pending;
}

void PracticeShare::cycle(PracticeDatabase& database)
{
    SyncState& state = *m_sync;
    auto local = readLocal(m_services.dataFile, state.joining);
    auto changes = RecordDiff::localChanges(local.records, local.listed, state.bases);
    {
        std::lock_guard guard(m_statusLock);
        m_pending = changes.size();
    }
    // Versions the page has saved since it was given them are agreed.
    for (auto& [key, base] : state.bases) {
        if (base.awaiting && valueOf(local.records, key) == base.body) {
            base.awaiting.reset();
            base.given.clear();
        }
    }

    Json given = Json::array();
    auto give = [&](const RecordKey& key, const Json& record) {
        RecordBase& base = state.bases[key];
        const Json& current = valueOf(local.records, key);
        if (record == current) {
            base.awaiting.reset();
            base.given.clear();
            return;
        }
        // Versions given earlier and not saved yet may still reach data.json before this one.
        if (!base.awaiting || (current != *base.awaiting && std::find(base.given.begin(), base.given.end(), current) == base.given.end()))
            base.given.clear();
        base.awaiting = current;
        base.given.push_back(record);
        given.push_back(changeEntry(key, record));
    };

    std::map<RecordKey, RemoteRecord> incoming;
    std::int64_t newest = state.lastRev;
    for (std::int64_t from = state.joining ? 0 : std::max<std::int64_t>(0, state.lastRev - pullOverlap);;) {
        auto rows = database.pullSince(from, pullPage);
        for (auto& row : rows) {
            from = std::max(from, row.rev);
            newest = std::max(newest, row.rev);
            RecordKey key { row.collection, row.id };
            auto base = state.bases.find(key);
            if (!state.joining && base != state.bases.end() && base->second.rev >= row.rev)
                continue;
            incoming[key] = std::move(row);
        }
        if (rows.size() < pullPage)
            break;
    }

    if (state.joining) {
        // The server's records take the place of this desk's own, which the safety copy keeps.
        std::set<RecordKey> keys;
        for (auto& [key, row] : incoming)
            keys.insert(key);
        for (auto& [key, record] : local.records)
            keys.insert(key);
        for (auto& key : keys) {
            auto row = incoming.find(key);
            RecordBase& base = state.bases[key];
            base.rev = row == incoming.end() ? 0 : row->second.rev;
            base.body = row == incoming.end() ? Json() : row->second.body;
            give(key, base.body);
        }
        state.joining = false;
    } else {
        std::set<RecordKey> changed;
        for (auto& change : changes)
            changed.insert(change.key);
        for (auto& [key, row] : incoming) {
            if (changed.contains(key))
                continue;
            RecordBase& base = state.bases[key];
            base.rev = row.rev;
            base.body = row.body;
            give(key, row.body);
        }

        const RecordMerge::Stamp ours { nowMilliseconds(), state.desk };
        for (auto& change : changes) {
            RecordBase& base = state.bases[change.key];
            std::optional<RemoteRecord> theirs;
            if (auto found = incoming.find(change.key); found != incoming.end())
                theirs = found->second;
            Json result;
            bool settled = false;
            for (int attempt = 0; attempt < writeAttempts && !settled; ++attempt) {
                std::int64_t expected = base.rev;
                result = change.body;
                if (theirs) {
                    result = RecordMerge::merge(base.body, change.body, ours, theirs->body, { theirs->changedAt, theirs->desk });
                    expected = theirs->rev;
                    if (result == theirs->body) {
                        base.rev = theirs->rev;
                        base.body = theirs->body;
                        settled = true;
                        break;
                    }
                } else if (result.is_null() && base.rev == 0) {
                    // Made and deleted here before the server ever saw it.
                    base.body = nullptr;
                    settled = true;
                    break;
                }
                if (auto written = database.write(change.key.collection, change.key.id, result, expected, state.desk)) {
                    base.rev = written->rev;
                    base.body = result;
                    settled = true;
                    break;
                }
                // Another desk wrote it meanwhile: merge with what it holds now.
                theirs = database.fetch(change.key.collection, change.key.id);
            }
            if (!settled)
                throw DatabaseError(DatabaseError::Kind::Failed, "Other desks kept changing the same record, so this desk's change waits for the next round.");
            give(change.key, base.body);
        }
    }

    if (m_redeliver) {
        // The page started over from data.json: what it was given and hadn't saved is given again.
        for (auto& [key, base] : state.bases) {
            const RecordKey& record = key; // a lambda can't capture a structured binding in clang 14
            const Json& now = valueOf(local.records, key);
            if (base.awaiting && (now == *base.awaiting || std::find(base.given.begin(), base.given.end(), now) != base.given.end())
                && std::none_of(given.begin(), given.end(), [&](const Json& entry) { return entry["collection"] == record.collection && entry["id"] == record.id; }))
                given.push_back(changeEntry(key, base.body));
        }
        m_redeliver = false;
    }

    state.lastRev = newest;
    state.write(m_services.stateFile);
    {
        std::lock_guard guard(m_statusLock);
        m_pending = 0;
    }
    if (!given.empty()) {
        Json payload { { "changes", std::move(given) } };
        post([this, payload = std::move(payload)] {
            if (deliver)
                deliver(payload);
        });
    }
}

}
