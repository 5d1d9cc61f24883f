// An update archive as it arrives: any bytes unpacked into a fresh folder. What the checks let
// through is only plain files and folders inside that folder; nothing is ever written beside it.
#include "FuzzCheck.h"

#include "common/Error.h"
#include "updates/UpdateArchive.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace quillpost;
namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fs::path root = [] {
        auto folder = fs::temp_directory_path() / ("quillpost-fuzz-archive-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        return folder;
    }();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto target = root / "unpacked";
    std::error_code error;
    fs::remove_all(root, error);
    fs::create_directories(root);
    const bool refused = UpdateArchive::problem(bytes).has_value();
    try {
        UpdateArchive::unpack(bytes, target);
        FUZZ_CHECK(!refused);
        for (auto it = fs::recursive_directory_iterator(target); it != fs::recursive_directory_iterator(); ++it) {
            auto status = fs::symlink_status(it->path());
            FUZZ_CHECK(fs::is_regular_file(status) || fs::is_directory(status));
        }
    } catch (const FileError&) {
        FUZZ_CHECK(!fs::exists(target));
    }
    // Only the target ever appears in the root.
    for (auto& entry : fs::directory_iterator(root))
        FUZZ_CHECK(entry.path() == target);
    return 0;
}
