#pragma once

#include "share/PracticeShare.h"

#include "doubles/FakePracticeDatabase.h"
#include "doubles/VirtualClock.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace quillpost {

// A share working in `folder` against the fake server, driven step by step on the virtual clock.
inline PracticeShare::Services testShareServices(const std::filesystem::path& folder, std::shared_ptr<FakePracticeDatabase::Server> server,
    Keyring& keyring, VirtualClock& clock, std::function<bool()> safetyCopy)
{
    return PracticeShare::Services {
        .dataFile = folder / "data.json",
        .stateFile = folder / "sync-state.json",
        .openDatabase = [server] { return std::make_unique<FakePracticeDatabase>(server); },
        .keyring = keyring,
        .clock = clock,
        .mainQueue = clock,
        .background = clock,
        .safetyCopy = std::move(safetyCopy),
        .workerThread = false,
    };
}

}
