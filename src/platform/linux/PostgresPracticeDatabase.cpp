#include "platform/PracticeDatabase.h"

#include "common/JsonText.h"

#include <libpq-fe.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <poll.h>

namespace quillpost {

namespace {

// The schema this program version makes and understands.
constexpr int schemaVersion = 1;

const char* const migrationSteps[] = {
    "CREATE SCHEMA IF NOT EXISTS quillpost",
    "CREATE TABLE IF NOT EXISTS quillpost.meta (key text PRIMARY KEY, value text NOT NULL)",
    "CREATE SEQUENCE IF NOT EXISTS quillpost.revs",
    ("CREATE TABLE IF NOT EXISTS quillpost.records ("
    " collection text NOT NULL, id text NOT NULL, body jsonb, deleted boolean NOT NULL DEFAULT false,"
    " rev bigint NOT NULL, desk text NOT NULL, changed_at timestamptz NOT NULL DEFAULT now(),"
    " PRIMARY KEY (collection, id))"),
    "CREATE INDEX IF NOT EXISTS records_rev ON quillpost.records (rev)",
    ("CREATE OR REPLACE FUNCTION quillpost.announce() RETURNS trigger LANGUAGE plpgsql AS $$"
    " BEGIN PERFORM pg_notify('quillpost_records', NEW.rev::text); RETURN NEW; END $$"),
    "DROP TRIGGER IF EXISTS records_announce ON quillpost.records",
    "CREATE TRIGGER records_announce AFTER INSERT OR UPDATE ON quillpost.records FOR EACH ROW EXECUTE FUNCTION quillpost.announce()",
};

// Every statement that answers records gives these columns, in this order.
#define RECORD_COLUMNS "collection, id, body::text, deleted, rev, desk, (extract(epoch from changed_at) * 1000)::bigint"

struct Result {
    PGresult* result { nullptr };
    explicit Result(PGresult* given)
        : result(given)
    {
    }
    ~Result() { PQclear(result); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    operator PGresult*() const { return result; }
};

std::string firstLine(const char* text)
{
    std::string line = text ? text : "";
    if (auto end = line.find('\n'); end != std::string::npos)
        line.resize(end);
    return line;
}

// The server's or libpq's words turned into a sentence that says what to do.
DatabaseError connectionError(const ServerAddress& server, const std::string& message)
{
    using Kind = DatabaseError::Kind;
    auto says = [&](const char* words) { return message.find(words) != std::string::npos; };
    if (says("password authentication failed") || says("no password supplied") || says("authentication failed"))
        return { Kind::Refused, "The server refused the password for user " + server.user + "." };
    if (says("does not exist") && says("database"))
        return { Kind::Refused, "The server has no database named " + server.database + "." };
    if (says("does not exist") && says("role"))
        return { Kind::Refused, "The server has no user named " + server.user + "." };
    if (says("SSL") || says("ssl"))
        return { Kind::Refused, "The server at " + server.hostAndPort() + " doesn't offer an encrypted connection, which a server on another computer needs." };
    if (says("no pg_hba.conf entry"))
        return { Kind::Refused, "The server at " + server.hostAndPort() + " doesn't let this computer in (its pg_hba.conf has no entry for it)." };
    if (says("Connection refused") || says("timeout expired") || says("could not translate host name") || says("No such file") || says("Network is unreachable")
        || says("No route to host") || says("could not connect"))
        return { Kind::Unreachable, "No PostgreSQL server answers at " + server.hostAndPort() + "." };
    return { Kind::Unreachable, "The practice server said: " + firstLine(message.c_str()) };
}

std::string caFile()
{
    const char* home = std::getenv("HOME");
    if (!home)
        return {};
    auto path = std::filesystem::path(home) / ".postgresql" / "root.crt";
    std::error_code ignored;
    return std::filesystem::exists(path, ignored) ? path.string() : std::string();
}

class PostgresPracticeDatabase final : public PracticeDatabase {
public:
    ~PostgresPracticeDatabase() override { disconnect(); }

    void connect(const ServerAddress& server, const std::string& password) override
    {
        disconnect();
        m_server = server;
        const std::string port = std::to_string(server.port);
        const std::string ca = caFile();
        // Outside this computer the connection is encrypted, and checked against a CA when one is set up.
        const char* sslmode = server.loopback() ? "prefer" : ca.empty() ? "require" : "verify-full";
        std::vector<const char*> keys { "host", "port", "dbname", "user", "password", "sslmode", "connect_timeout", "application_name",
            "keepalives_idle", "keepalives_interval", "keepalives_count" };
        std::vector<const char*> values { server.host.c_str(), port.c_str(), server.database.c_str(), server.user.c_str(), password.c_str(), sslmode, "5",
            "Quillpost", "10", "5", "3" };
        if (!ca.empty()) {
            keys.push_back("sslrootcert");
            values.push_back(ca.c_str());
        }
        keys.push_back(nullptr);
        values.push_back(nullptr);
        m_connection = PQconnectdbParams(keys.data(), values.data(), 0);
        if (!m_connection || PQstatus(m_connection) != CONNECTION_OK) {
            const std::string message = m_connection ? PQerrorMessage(m_connection) : "out of memory";
            disconnect();
            throw connectionError(server, message);
        }
        // The server's notices ("already exists, skipping") are of no interest to anyone here.
        PQsetNoticeProcessor(m_connection, [](void*, const char*) {}, nullptr);
        // Statements that hang on a server that stopped answering give up rather than hold the worker.
        run("SET statement_timeout = '30s'");
        run("LISTEN quillpost_records");
    }

    bool connected() const override { return m_connection && PQstatus(m_connection) == CONNECTION_OK; }

    void disconnect() override
    {
        if (m_connection)
            PQfinish(m_connection);
        m_connection = nullptr;
    }

    void migrate() override
    {
        // A server already at this version needs nothing, not even the right to create schemas.
        if (storedVersion() == schemaVersion)
            return;
        run("BEGIN");
        try {
            // One desk at a time sets the schema up.
            run("SELECT pg_advisory_xact_lock(7146281)");
            const int version = storedVersion();
            if (version > schemaVersion)
                throw DatabaseError(DatabaseError::Kind::Refused, "The practice server was set up by a newer Quillpost: update this desk first.");
            if (version < schemaVersion) {
                for (const char* step : migrationSteps)
                    run(step);
                run("INSERT INTO quillpost.meta (key, value) VALUES ('schema_version', '" + std::to_string(schemaVersion)
                    + "') ON CONFLICT (key) DO UPDATE SET value = EXCLUDED.value");
            }
            run("COMMIT");
        } catch (...) {
            if (connected())
                PQclear(PQexec(m_connection, "ROLLBACK"));
            throw;
        }
    }

    bool holdsRecords() override
    {
        Result result(query("SELECT 1 FROM quillpost.records LIMIT 1", {}));
        return PQntuples(result) > 0;
    }

    std::vector<RemoteRecord> pullSince(std::int64_t rev, std::size_t limit) override
    {
        Result result(query("SELECT " RECORD_COLUMNS " FROM quillpost.records WHERE rev > $1 ORDER BY rev LIMIT $2",
            { std::to_string(rev), std::to_string(limit) }));
        std::vector<RemoteRecord> records;
        for (int row = 0; row < PQntuples(result); ++row)
            records.push_back(record(result, row));
        return records;
    }

    std::optional<RemoteRecord> fetch(const std::string& collection, const std::string& id) override
    {
        Result result(query("SELECT " RECORD_COLUMNS " FROM quillpost.records WHERE collection = $1 AND id = $2", { collection, id }));
        if (PQntuples(result) == 0)
            return std::nullopt;
        return record(result, 0);
    }

    std::optional<RemoteRecord> write(const std::string& collection, const std::string& id, const Json& body, std::int64_t expectedRev,
        const std::string& desk) override
    {
        const bool deleted = body.is_null();
        const std::string text = body.dump(-1, ' ', false, Json::error_handler_t::replace);
        std::optional<std::string> bodyParameter;
        if (!deleted)
            bodyParameter = text;
        std::unique_ptr<Result> result;
        if (expectedRev == 0) {
            result = std::make_unique<Result>(query("INSERT INTO quillpost.records (collection, id, body, deleted, rev, desk)"
                                                    " VALUES ($1, $2, $3::jsonb, $4, nextval('quillpost.revs'), $5) ON CONFLICT DO NOTHING"
                                                    " RETURNING " RECORD_COLUMNS,
                { collection, id, bodyParameter, deleted ? "true" : "false", desk }));
        } else {
            result = std::make_unique<Result>(query("UPDATE quillpost.records SET body = $3::jsonb, deleted = $4, rev = nextval('quillpost.revs'),"
                                                    " desk = $5, changed_at = now() WHERE collection = $1 AND id = $2 AND rev = $6"
                                                    " RETURNING " RECORD_COLUMNS,
                { collection, id, bodyParameter, deleted ? "true" : "false", desk, std::to_string(expectedRev) }));
        }
        if (PQntuples(*result) == 0)
            return std::nullopt;
        return record(*result, 0);
    }

    bool waitForChange(std::chrono::milliseconds timeout) override
    {
        requireConnection();
        if (takeNotifications())
            return true;
        pollfd watched { PQsocket(m_connection), POLLIN, 0 };
        const int ready = ::poll(&watched, 1, static_cast<int>(timeout.count()));
        if (ready < 0 && errno != EINTR)
            throw lost();
        if (ready > 0 && !PQconsumeInput(m_connection))
            throw lost();
        return takeNotifications();
    }

private:
    // The schema's version on the server; 0 when there is none yet.
    int storedVersion()
    {
        Result table(query("SELECT to_regclass('quillpost.meta') IS NOT NULL", {}));
        if (std::string_view(PQgetvalue(table, 0, 0)) != "t")
            return 0;
        Result found(query("SELECT value FROM quillpost.meta WHERE key = 'schema_version'", {}));
        return PQntuples(found) ? std::atoi(PQgetvalue(found, 0, 0)) : 0;
    }

    DatabaseError lost() const
    {
        return { DatabaseError::Kind::Unreachable, "The connection to the practice server at " + m_server.hostAndPort() + " was lost." };
    }

    void requireConnection() const
    {
        if (!connected())
            throw lost();
    }

    bool takeNotifications()
    {
        bool any = false;
        while (PGnotify* notice = PQnotifies(m_connection)) {
            any = true;
            PQfreemem(notice);
        }
        return any;
    }

    PGresult* query(const std::string& sql, const std::vector<std::optional<std::string>>& parameters)
    {
        requireConnection();
        std::vector<const char*> values;
        for (auto& parameter : parameters)
            values.push_back(parameter ? parameter->c_str() : nullptr);
        PGresult* result = PQexecParams(m_connection, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
        const auto status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            const std::string message = result ? firstLine(PQresultErrorMessage(result)) : firstLine(PQerrorMessage(m_connection));
            const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
            PQclear(result);
            if (!connected())
                throw lost();
            // 53100: the server's disk is full.
            if (state && std::string_view(state) == "53100")
                throw DatabaseError(DatabaseError::Kind::Unreachable, "The practice server's disk is full: changes wait on this desk until it has room.");
            throw DatabaseError(DatabaseError::Kind::Failed, "The practice server said: " + message);
        }
        return result;
    }

    void run(const std::string& sql) { Result done(query(sql, {})); }

    static RemoteRecord record(PGresult* result, int row)
    {
        RemoteRecord record;
        record.collection = PQgetvalue(result, row, 0);
        record.id = PQgetvalue(result, row, 1);
        const bool deleted = std::string_view(PQgetvalue(result, row, 3)) == "t";
        if (!deleted && !PQgetisnull(result, row, 2)) {
            record.body = parseJsonText(PQgetvalue(result, row, 2));
            if (record.body.is_discarded())
                record.body = nullptr;
        }
        record.rev = std::strtoll(PQgetvalue(result, row, 4), nullptr, 10);
        record.desk = PQgetvalue(result, row, 5);
        record.changedAt = std::strtoll(PQgetvalue(result, row, 6), nullptr, 10);
        return record;
    }

    PGconn* m_connection { nullptr };
    ServerAddress m_server;
};

}

std::unique_ptr<PracticeDatabase> PracticeDatabase::create()
{
    return std::make_unique<PostgresPracticeDatabase>();
}

}
