#pragma once

#include "common/Json.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillpost {

// Where a practice's shared records live: a PostgreSQL server and the account the desk uses.
struct ServerAddress {
    std::string host;
    int port { 5432 };
    std::string database;
    std::string user;

    // A server on this computer, reached without TLS.
    bool loopback() const;
    // "host:port", as sentences name the server.
    std::string hostAndPort() const;
    bool operator==(const ServerAddress&) const = default;
};

// One record as the server holds it. A deletion is a tombstone: body is null.
struct RemoteRecord {
    std::string collection;
    std::string id;
    Json body;
    std::int64_t rev { 0 };
    std::string desk;
    // When the server took the write, in milliseconds since 1970.
    std::int64_t changedAt { 0 };
};

// A failure of the server or the way to it, in a sentence the page can show.
class DatabaseError : public std::runtime_error {
public:
    // Unreachable: no answer or a dropped connection, worth trying again later. Refused: the
    // server answered and said no (password, database, TLS), which waits for the user.
    enum class Kind { Unreachable, Refused, Failed };

    DatabaseError(Kind kind, const std::string& sentence)
        : std::runtime_error(sentence)
        , m_kind(kind)
    {
    }

    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// The practice's database. Every call blocks and throws DatabaseError; it is used from one worker
// thread at a time.
class PracticeDatabase {
public:
    virtual ~PracticeDatabase() = default;

    // Opens the connection (TLS required unless the host is loopback) and listens for changes.
    virtual void connect(const ServerAddress&, const std::string& password) = 0;
    virtual bool connected() const = 0;
    virtual void disconnect() = 0;

    // Creates or brings up to date the program's own schema.
    virtual void migrate() = 0;

    // Whether the server already holds a practice's records (tombstones included).
    virtual bool holdsRecords() = 0;

    // Records written after rev, oldest first, at most limit of them.
    virtual std::vector<RemoteRecord> pullSince(std::int64_t rev, std::size_t limit) = 0;
    // One record as it is now, or nothing when the server never had it.
    virtual std::optional<RemoteRecord> fetch(const std::string& collection, const std::string& id) = 0;

    // Writes the record (null body: a tombstone) only if the server still holds it at expectedRev,
    // or, with expectedRev 0, only if it has never held it. Answers the written record with its new
    // rev and time, or nothing when the server moved meanwhile.
    virtual std::optional<RemoteRecord> write(const std::string& collection, const std::string& id, const Json& body,
        std::int64_t expectedRev, const std::string& desk) = 0;

    // Waits up to timeout for another desk's change; true when one was announced.
    virtual bool waitForChange(std::chrono::milliseconds timeout) = 0;

    // The libpq implementation.
    static std::unique_ptr<PracticeDatabase> create();
};

}
