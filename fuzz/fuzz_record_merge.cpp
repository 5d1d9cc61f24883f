// The three-way merge of a shared record: whatever the base and the two sides hold, the result
// doesn't depend on which side is this desk's, a side that changed nothing gives way to the other,
// every field of a merged record comes from one of the two sides, and no value is lost: each value
// a side changed and each entry a side set aside since the base is shown or set aside in the result.
#include "FuzzCheck.h"

#include "common/JsonText.h"
#include "share/RecordMerge.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace quillpost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // [base, local, server, localTime, serverTime]
    const Json input = parseJsonText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!input.is_array() || input.size() < 3)
        return 0;
    const Json& base = input[0];
    const Json& local = input[1];
    const Json& server = input[2];
    auto time = [&](std::size_t index) { return input.size() > index && input[index].is_number_integer() ? input[index].get<std::int64_t>() : std::int64_t(0); };
    const RecordMerge::Stamp localStamp { time(3), "desk-a" };
    const RecordMerge::Stamp serverStamp { time(4), "desk-b" };

    const Json merged = RecordMerge::merge(base, local, localStamp, server, serverStamp);
    FUZZ_CHECK(merged == RecordMerge::merge(base, server, serverStamp, local, localStamp));
    FUZZ_CHECK(RecordMerge::merge(base, base, localStamp, server, serverStamp) == server);
    FUZZ_CHECK(RecordMerge::merge(base, local, localStamp, base, serverStamp) == local);

    // Nothing a side brought since the base is lost: a value it changed is shown or set aside, and
    // so is every value it set aside since.
    // An entry noting a deletion is never "shown"; a record's own field of that name is.
    auto shownOrSetAside = [&](const std::string& field, const Json& value, bool entry) {
        if (!(entry && field == RecordMerge::deletedField) && merged.is_object() && merged.contains(field) && merged[field] == value)
            return true;
        const Json& list = merged.is_object() && merged.contains(RecordMerge::conflictsField) ? merged[RecordMerge::conflictsField] : Json();
        return list.is_array() && std::any_of(list.begin(), list.end(), [&](const Json& entry) {
            return entry.is_object() && entry.value("field", Json()) == field && entry.contains("value") && entry["value"] == value;
        });
    };
    auto entriesOf = [](const Json& record) {
        return record.is_object() && record.contains(RecordMerge::conflictsField) && record[RecordMerge::conflictsField].is_array()
            ? record[RecordMerge::conflictsField]
            : Json::array();
    };
    const bool records = (local.is_object() || local.is_null()) && (server.is_object() || server.is_null()) && (base.is_object() || base.is_null())
        && merged.is_object();
    if (records) {
        const Json baseEntries = entriesOf(base);
        for (const Json* side : { &local, &server }) {
            if (!side->is_object())
                continue;
            for (auto& [field, value] : side->items()) {
                if (field == RecordMerge::conflictsField)
                    continue;
                if (!(base.is_object() && base.contains(field) && base[field] == value))
                    FUZZ_CHECK(shownOrSetAside(field, value, false));
            }
            for (auto& entry : entriesOf(*side)) {
                if (!entry.is_object() || !entry.contains("field") || !entry["field"].is_string() || !entry.contains("value"))
                    continue;
                // Kept unless the other side settled it; a deleted record settles nothing.
                const Json& otherSide = side == &local ? server : local;
                const auto otherEntries = entriesOf(otherSide);
                const bool settledThere = otherSide.is_object() && std::find(otherEntries.begin(), otherEntries.end(), entry) == otherEntries.end();
                if (std::find(baseEntries.begin(), baseEntries.end(), entry) == baseEntries.end() || !settledThere)
                    FUZZ_CHECK(shownOrSetAside(entry["field"].get<std::string>(), entry["value"], true));
            }
        }
        // A desk that sent this merge of fresh edits and went down before recording it merges its
        // side again, later, against the merged record: nothing changes.
        if (entriesOf(local) == baseEntries && entriesOf(server) == baseEntries) {
            const RecordMerge::Stamp again { std::max(localStamp.at, serverStamp.at) + 2, localStamp.desk };
            FUZZ_CHECK(RecordMerge::merge(base, local, again, merged, { again.at - 1, serverStamp.desk }) == merged);
        }
    }

    if (merged.is_object() && local.is_object() && server.is_object()) {
        for (auto& [field, value] : merged.items()) {
            if (field == RecordMerge::conflictsField) {
                FUZZ_CHECK(value.is_array());
                continue;
            }
            FUZZ_CHECK((local.contains(field) && local[field] == value) || (server.contains(field) && server[field] == value));
        }
    }
    return 0;
}
