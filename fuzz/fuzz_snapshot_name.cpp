// The name the page asks to restore: only a snapshot in the snapshots folder, data.json.bak, or
// the backup folder's copy.
#include "FuzzCheck.h"

#include "store/Store.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace quillpost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    if (!Store::isRestorableName(name))
        return 0;
    // An accepted name names a file inside the folder it is looked up in, and nothing else.
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name.find('/') == std::string_view::npos);
    FUZZ_CHECK(name.find('\0') == std::string_view::npos);
    FUZZ_CHECK(name != "." && name != "..");
    FUZZ_CHECK(name.size() <= 255);
    FUZZ_CHECK(name.ends_with(".json") || name == "data.json.bak");
    return 0;
}
