#include "app/InstanceIdentity.h"

#include <cstdint>
#include <cstdio>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

// The folder as one spelling: absolute, links resolved where they exist, no trailing separator.
std::string folderKey(const fs::path& folder)
{
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(fs::absolute(folder, error), error);
    if (error)
        resolved = fs::absolute(folder, error).lexically_normal();
    std::string text = resolved.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::string shortHash(const std::string& text)
{
    // FNV-1a: stable across runs and builds, which is all an identifier needs.
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(digits, 10);
}

}

InstanceIdentity instanceIdentity(const InstanceRun& run)
{
    InstanceIdentity identity;
    identity.applicationId = baseApplicationId;
    std::string folder = folderKey(run.dataFolder);
    if (folder != folderKey(run.defaultDataFolder))
        identity.applicationId += ".Data_" + shortHash(folder);
    identity.unique = !run.selfTest;
    return identity;
}

}
