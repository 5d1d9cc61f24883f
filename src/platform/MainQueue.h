#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace quillpost {

using TimerId = std::uint64_t;

// The main thread's queue. Everything that touches the page, windows or the store's settings runs here.
class MainQueue {
public:
    virtual ~MainQueue() = default;

    // Runs the task on the main thread soon. Safe to call from any thread.
    virtual void post(std::function<void()> task) = 0;

    // Runs the task on the main thread once the delay has passed. Main thread only.
    virtual TimerId after(std::chrono::milliseconds delay, std::function<void()> task) = 0;

    // Cancels a timer that has not fired yet; a fired or unknown timer is ignored. Main thread only.
    virtual void cancel(TimerId) = 0;

    static MainQueue& shared();
};

}
