// The update feed as the network delivers it: any bytes read as an appcast. Whatever it holds,
// every item kept has an archive address and a version, and the newest update is newer than
// the running version and than every other item offered, and no version names a staging folder
// anywhere but beside the program's folder.
#include "FuzzCheck.h"

#include "updates/Appcast.h"
#include "updates/UpdateInstaller.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace quillpost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto items = parseAppcast(text, error);
    if (!items) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    for (auto& item : *items) {
        FUZZ_CHECK(!item.url.empty() && !item.version.empty());
        FUZZ_CHECK(compareVersions(item.version, item.version) == 0);
        for (auto* version : { &item.version, &item.shortVersion }) {
            auto staging = UpdateInstaller("/apps/quillpost").stagingFolder(*version);
            FUZZ_CHECK(staging.parent_path() == "/apps" && staging.filename().string().starts_with(".quillpost-update-"));
            FUZZ_CHECK(staging.filename().string().find('/') == std::string::npos);
        }
    }
    if (auto newest = newestUpdate(*items, "0.1.0")) {
        FUZZ_CHECK(compareVersions(newest->version, "0.1.0") > 0);
        for (auto& item : *items)
            FUZZ_CHECK(compareVersions(newest->version, item.version) >= 0);
    }
    // Versions order like numbers do: never both ways.
    if (size >= 2) {
        const std::string a = text.substr(0, size / 2), b = text.substr(size / 2);
        FUZZ_CHECK(compareVersions(a, b) == -compareVersions(b, a));
    }
    return 0;
}
