#pragma once

#include "common/Json.h"
#include "platform/PracticeDatabase.h"

#include <compare>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillpost {

// A shared record's name: its collection ("clients", ... or "settings") and its id.
struct RecordKey {
    std::string collection;
    std::string id;
    auto operator<=>(const RecordKey&) const = default;
};

// What this desk last agreed on with the server about one record.
struct RecordBase {
    std::int64_t rev { 0 };
    // null: deleted, or never on the server.
    Json body;
    // Set while the page has been given body and data.json doesn't hold it yet: what data.json
    // held before, so that the old text isn't taken for an edit.
    std::optional<Json> awaiting;
    // The versions given to the page meanwhile, body last: the page may save an earlier one on
    // its way to the last, which is no edit either.
    std::vector<Json> given;
};

// A sync-state file that can't be read: the caller puts it aside rather than guessing.
class SyncStateDamaged : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The desk's sharing state, kept as sync-state.json in the data folder. No password is ever in it.
struct SyncState {
    ServerAddress server;
    // This desk's name on the server, random, made once.
    std::string desk;
    std::int64_t lastRev { 0 };
    // The next cycle puts the server's records in place of the local ones (a desk that joins).
    bool joining { false };
    std::map<RecordKey, RecordBase> bases;

    Json toJson() const;
    static SyncState fromJson(const Json&); // throws SyncStateDamaged

    // Nothing when there is no file; throws SyncStateDamaged when it doesn't read.
    static std::optional<SyncState> read(const std::filesystem::path&);
    // Replaces the file in one step. Throws FileError.
    void write(const std::filesystem::path&) const;
};

}
