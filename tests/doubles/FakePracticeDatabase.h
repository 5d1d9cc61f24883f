#pragma once

#include "platform/PracticeDatabase.h"
#include "share/PracticeShare.h"

#include "doubles/VirtualClock.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace quillpost {

// The practice server in memory (and, below, a share that uses it): one table of records keyed by (collection, id), one rev counter
// for every write, and a clock in milliseconds that moves one step per write. Several desks' fake
// connections share one Server.
class FakePracticeDatabase final : public PracticeDatabase {
public:
    struct Server {
        std::map<std::pair<std::string, std::string>, RemoteRecord> rows;
        std::int64_t revs { 0 };
        std::int64_t time { 1714564800000 };
        bool reachable { true };
        std::string password { "secret" };
        int connects { 0 };
        int writes { 0 };
        // Runs right before a write takes effect, so a test can let another desk get in first.
        std::function<void()> beforeWrite;

        RemoteRecord put(const std::string& collection, const std::string& id, const Json& body, const std::string& desk)
        {
            RemoteRecord& row = rows[{ collection, id }];
            row = { collection, id, body, ++revs, desk, ++time };
            return row;
        }
    };

    explicit FakePracticeDatabase(std::shared_ptr<Server> server)
        : m_server(std::move(server))
    {
    }

    void connect(const ServerAddress& address, const std::string& password) override
    {
        ++m_server->connects;
        if (!m_server->reachable)
            throw DatabaseError(DatabaseError::Kind::Unreachable, "No PostgreSQL server answers at " + address.hostAndPort() + ".");
        if (password != m_server->password)
            throw DatabaseError(DatabaseError::Kind::Refused, "The server refused the password for user " + address.user + ".");
        m_connected = true;
    }
    bool connected() const override { return m_connected; }
    void disconnect() override { m_connected = false; }
    void migrate() override { check(); }
    bool holdsRecords() override
    {
        check();
        return !m_server->rows.empty();
    }

    std::vector<RemoteRecord> pullSince(std::int64_t rev, std::size_t limit) override
    {
        check();
        std::vector<RemoteRecord> result;
        for (auto& [key, row] : m_server->rows) {
            if (row.rev > rev)
                result.push_back(row);
        }
        std::sort(result.begin(), result.end(), [](auto& a, auto& b) { return a.rev < b.rev; });
        result.resize(std::min(result.size(), limit));
        return result;
    }

    std::optional<RemoteRecord> fetch(const std::string& collection, const std::string& id) override
    {
        check();
        auto found = m_server->rows.find({ collection, id });
        if (found == m_server->rows.end())
            return std::nullopt;
        return found->second;
    }

    std::optional<RemoteRecord> write(const std::string& collection, const std::string& id, const Json& body, std::int64_t expectedRev,
        const std::string& desk) override
    {
        check();
        if (auto race = std::exchange(m_server->beforeWrite, nullptr))
            race();
        auto found = m_server->rows.find({ collection, id });
        const std::int64_t current = found == m_server->rows.end() ? 0 : found->second.rev;
        if (current != expectedRev)
            return std::nullopt;
        ++m_server->writes;
        return m_server->put(collection, id, body, desk);
    }

    bool waitForChange(std::chrono::milliseconds) override
    {
        check();
        return false;
    }

private:
    void check()
    {
        if (!m_server->reachable) {
            m_connected = false;
            throw DatabaseError(DatabaseError::Kind::Unreachable, "The connection to the practice server was lost.");
        }
        if (!m_connected)
            throw DatabaseError(DatabaseError::Kind::Unreachable, "Not connected.");
    }

    std::shared_ptr<Server> m_server;
    bool m_connected { false };
};

// A share working in `folder` against the fake server, driven step by step on the virtual clock.
inline PracticeShare::Services testShareServices(const std::filesystem::path& folder, std::shared_ptr<FakePracticeDatabase::Server> server,
    Keyring& keyring, VirtualClock& clock, std::function<bool()> safetyCopy)
{
    return PracticeShare::Services {
        .dataFile = folder / "data.json",
        .stateFile = folder / "sync-state.json",
        .openDatabase = [server] { return std::make_unique<FakePracticeDatabase>(server); },
        .keyring = keyring,
        .clock = clock,
        .mainQueue = clock,
        .background = clock,
        .safetyCopy = std::move(safetyCopy),
        .workerThread = false,
    };
}

}
