// An update archive as it arrives: any bytes unpacked into a fresh folder. What the checks let
// through is only plain files and folders inside that folder; nothing is ever written beside it.
// The same bytes are read as an install manifest, and the manifest of any tree they unpack to is
// read and checked against it: a version that is one safe word, paths that stay inside.
#include "FuzzCheck.h"

#include "common/Error.h"
#include "updates/InstallManifest.h"
#include "updates/UpdateArchive.h"
#include "updates/UpdateInstaller.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace quillpost;
namespace fs = std::filesystem;

namespace {

void checkManifest(const InstallManifest& manifest)
{
    FUZZ_CHECK(!manifest.version.empty() && manifest.version.size() <= InstallManifest::maximumVersionLength);
    FUZZ_CHECK(manifest.version.find_first_of("/\\ \n") == std::string::npos);
    // The staging folder named after it is one component beside the prefix.
    const fs::path prefix = "/apps/quillpost";
    FUZZ_CHECK(UpdateInstaller(prefix).stagingFolder(manifest.version).parent_path() == prefix.parent_path());
    FUZZ_CHECK(manifest.files.contains("bin/quillpost"));
    for (auto& file : manifest.files) {
        FUZZ_CHECK(!file.empty() && file.front() != '/');
        for (auto& part : fs::path(file))
            FUZZ_CHECK(part != ".." && part != "." && !part.empty());
    }
}

}

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
    std::string why;
    if (auto manifest = InstallManifest::parse(bytes, why))
        checkManifest(*manifest);
    else
        FUZZ_CHECK(!why.empty());

    const bool refused = UpdateArchive::problem(bytes).has_value();
    try {
        UpdateArchive::unpack(bytes, target);
        FUZZ_CHECK(!refused);
        for (auto it = fs::recursive_directory_iterator(target); it != fs::recursive_directory_iterator(); ++it) {
            auto status = fs::symlink_status(it->path());
            FUZZ_CHECK(fs::is_regular_file(status) || fs::is_directory(status));
        }
        if (auto tree = UpdateArchive::findTree(target)) {
            if (auto manifest = InstallManifest::read(*tree, why)) {
                checkManifest(*manifest);
                // What the walk calls foreign is something the tree really holds.
                if (auto stranger = manifest->strangerIn(*tree))
                    FUZZ_CHECK(fs::exists(fs::symlink_status(*tree / *stranger)));
            }
        }
    } catch (const FileError&) {
        FUZZ_CHECK(!fs::exists(target));
    }
    // Only the target ever appears in the root.
    for (auto& entry : fs::directory_iterator(root))
        FUZZ_CHECK(entry.path() == target);
    return 0;
}
