#pragma once

#include "common/Json.h"
#include "share/SyncState.h"

#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace quillpost::RecordDiff {

// The lists of the practice document whose items are shared, one record per item with an id.
inline constexpr std::array collections { "clients", "files", "deadlines", "appointments", "contacts", "entries", "invoices" };
// The document's settings object is one more record under this collection and id.
inline constexpr const char* settingsKey = "settings";

// A record's id as text: a string as it is, a whole number in decimal; nothing for anything else.
std::optional<std::string> idText(const Json& id);

// The shared records of a practice document. Items without a usable id, and a second item with an
// id already seen, stay out: they can't be told apart on the server.
std::map<RecordKey, Json> records(const Json& document);

struct Change {
    RecordKey key;
    // The record to send; null for a deletion.
    Json body;
};

// The collections the document lists (the settings among them when it has them): only a record
// of a listed collection can have been deleted.
std::set<std::string> listedCollections(const Json& document);

// The records the desk changed since it last agreed with the server: any that differ from their
// base, and those gone from a listed collection (deletions). A record the page hasn't saved since it was given a new
// version is no change while data.json still holds the old one; edited meanwhile, the user's
// edited fields go on top of the version given.
std::vector<Change> localChanges(const std::map<RecordKey, Json>& local, const std::set<std::string>& listed, const std::map<RecordKey, RecordBase>& bases);

// The version given to the page with the fields the user changed since (from before to now) on top.
Json editsOnTop(const Json& before, const Json& now, const Json& given);

}
