#pragma once

#include "platform/BackgroundQueue.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"

#include <cstddef>
#include <deque>
#include <map>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace quillpost {

// Time, the main queue and the background queue under the test's control. Nothing runs by
// itself: posted tasks and due timers run inside advance() or runPosted(), background tasks
// only inside runBackground(), so a test can stop between any two steps.
class VirtualClock final : public Clock, public MainQueue, public BackgroundQueue {
public:
    // 2024-05-01T12:00:00Z, a fixed and unremarkable start.
    static constexpr std::chrono::seconds defaultStart { 1714564800 };

    explicit VirtualClock(TimePoint start = TimePoint(defaultStart));

    // Clock
    TimePoint now() const override;
    // Moves the wall clock only. Timers count elapsed time, as a monotonic clock does, so they are not affected.
    void setNow(TimePoint);

    // MainQueue
    void post(std::function<void()>) override;
    TimerId after(std::chrono::milliseconds delay, std::function<void()>) override;
    void cancel(TimerId) override;

    // BackgroundQueue
    void async(std::function<void()>) override;

    // Moves time forward, running posted tasks and every timer that falls due, in the order
    // they fall due (ties in the order they were set). Time stands at each timer's due time while it runs.
    void advance(std::chrono::milliseconds);
    // Runs the posted main-queue tasks, including those they post. Returns how many ran.
    size_t runPosted();
    // Runs the queued background tasks in order, including those they queue. Returns how many ran.
    size_t runBackground();

    size_t pendingTimers() const;
    size_t pendingBackgroundTasks() const;

private:
    // Runs the queue's tasks in order, including those they add, and returns how many ran.
    size_t runAll(std::deque<std::function<void()>>&);

    mutable std::mutex m_lock; // post() may be called from any thread
    TimePoint m_now;
    std::chrono::milliseconds m_elapsed { 0 };
    TimerId m_nextTimer { 1 };
    // Keyed by (due, id): iteration order is the firing order.
    std::map<std::pair<std::chrono::milliseconds, TimerId>, std::function<void()>> m_timers;
    std::deque<std::function<void()>> m_posted;
    std::deque<std::function<void()>> m_background;
};

}
