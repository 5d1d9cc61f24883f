#pragma once

#include "common/Json.h"

#include <cstdint>
#include <string>

namespace quillpost::RecordMerge {

// Who wrote one side of a merge, and when (milliseconds since 1970). Of two values written to
// the same field, the one with the larger stamp wins, on every desk alike.
struct Stamp {
    std::int64_t at { 0 };
    std::string desk;

    auto operator<=>(const Stamp&) const = default;
};

// The field a record keeps the values that lost a merge in: [{ field, value, desk, at }].
inline constexpr const char* conflictsField = "conflicts";
// The field name a conflict entry gives a deletion that an edit overruled.
inline constexpr const char* deletedField = "*deleted*";

// The three-way merge of one record. A null record is a deleted or never-made one. Top-level
// fields changed on one side only are taken from it; a field both changed differently goes to
// the side with the larger stamp, and the other value is added to the conflicts list. An edit
// overrules a deletion, which is noted as a conflict. The conflicts lists merge as sets (an entry
// added on either side stays, one removed on either side goes) and come out in a fixed order, so
// the result does not depend on which side is "local".
Json merge(const Json& base, const Json& local, const Stamp& localStamp, const Json& server, const Stamp& serverStamp);

// A stamp's time as the conflict entries carry it: UTC ISO 8601 with milliseconds.
std::string isoMilliseconds(std::int64_t at);

}
