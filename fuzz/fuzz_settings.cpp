// The settings file config.json: whatever it holds, the store's settings are an object, and a
// rewrite of them keeps every key and value that was read.
#include "FuzzCheck.h"

#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/Store.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace quillpost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TemporaryFolder folder("quillpost-fuzz-settings");
    static VirtualClock clock;
    const auto file = folder / "config.json";
    writeText(file, std::string_view(reinterpret_cast<const char*>(data), size));

    Store store(Store::Location { folder.path(), false, {}, {} }, Store::Services { clock, clock, clock });
    FUZZ_CHECK(store.config().is_object());
    store.configString("backupFolder");

    store.saveConfig();
    const Json written = Json::parse(readText(file), nullptr, false);
    FUZZ_CHECK(written.is_object());
    FUZZ_CHECK(written == store.config());
    return 0;
}
