#pragma once

#include <filesystem>
#include <string>

namespace quillpost {

// Which running copy a launch belongs to. The user's copy on the default data folder is one
// instance per session, so a second launch or a quillpost: link goes to it. A run on another data
// folder is one instance per folder, under an identifier of its own. The self-test never hands
// over: it must run to its end and write its results beside whatever else is open.
struct InstanceIdentity {
    std::string applicationId;
    bool unique { true };
};

struct InstanceRun {
    std::filesystem::path dataFolder;
    std::filesystem::path defaultDataFolder;
    bool selfTest { false };   // the built-in self-test (QUILLPOST_SELFTEST without a test script)
};

inline constexpr const char* baseApplicationId = "org.quillpost.Quillpost";

InstanceIdentity instanceIdentity(const InstanceRun&);

}
