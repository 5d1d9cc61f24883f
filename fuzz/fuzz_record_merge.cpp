// The three-way merge of a shared record: whatever the base and the two sides hold, the result
// doesn't depend on which side is this desk's, a side that changed nothing gives way to the other,
// and every field of a merged record comes from one of the two sides.
#include "FuzzCheck.h"

#include "common/JsonText.h"
#include "share/RecordMerge.h"

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
