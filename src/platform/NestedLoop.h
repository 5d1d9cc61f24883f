#pragma once

#include <chrono>
#include <functional>

namespace quillpost {

// Waits on the main thread while the main loop keeps serving everything else (page replies,
// timers), for a caller that must not return before something has happened.
class NestedLoop {
public:
    virtual ~NestedLoop() = default;

    // Returns once finished() answers true or the limit has passed, whichever comes first.
    virtual void runUntil(const std::function<bool()>& finished, std::chrono::milliseconds limit) = 0;

    static NestedLoop& shared();
};

}
