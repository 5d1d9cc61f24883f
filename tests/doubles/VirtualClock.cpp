#include "doubles/VirtualClock.h"

#include <algorithm>

namespace quillpost {

VirtualClock::VirtualClock(TimePoint start)
    : m_now(start)
{
}

Clock::TimePoint VirtualClock::now() const
{
    const std::lock_guard guard(m_lock);
    return m_now;
}

void VirtualClock::setNow(TimePoint now)
{
    const std::lock_guard guard(m_lock);
    m_now = now;
}

void VirtualClock::post(std::function<void()> task)
{
    const std::lock_guard guard(m_lock);
    m_posted.push_back(std::move(task));
}

TimerId VirtualClock::after(std::chrono::milliseconds delay, std::function<void()> task)
{
    const std::lock_guard guard(m_lock);
    const TimerId id = m_nextTimer++;
    m_timers.emplace(std::pair(m_elapsed + std::max(delay, std::chrono::milliseconds(0)), id), std::move(task));
    return id;
}

void VirtualClock::cancel(TimerId id)
{
    const std::lock_guard guard(m_lock);
    std::erase_if(m_timers, [id](const auto& timer) { return timer.first.second == id; });
}

void VirtualClock::async(std::function<void()> task)
{
    const std::lock_guard guard(m_lock);
    m_background.push_back(std::move(task));
}

void VirtualClock::advance(std::chrono::milliseconds duration)
{
    std::unique_lock guard(m_lock);
    const std::chrono::milliseconds target = m_elapsed + duration;
    while (true) {
        guard.unlock();
        runPosted();
        guard.lock();

        const auto next = m_timers.begin();
        if (next == m_timers.end() || next->first.first > target)
            break;
        m_now += next->first.first - m_elapsed;
        m_elapsed = next->first.first;
        const std::function<void()> task = std::move(next->second);
        m_timers.erase(next);

        guard.unlock();
        task();
        guard.lock();
    }
    m_now += target - m_elapsed;
    m_elapsed = target;
}

size_t VirtualClock::runAll(std::deque<std::function<void()>>& tasks)
{
    size_t count = 0;
    while (true) {
        std::function<void()> task;
        {
            const std::lock_guard guard(m_lock);
            if (tasks.empty())
                return count;
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        task();
        ++count;
    }
}

size_t VirtualClock::runPosted()
{
    return runAll(m_posted);
}

size_t VirtualClock::runBackground()
{
    return runAll(m_background);
}

size_t VirtualClock::pendingTimers() const
{
    const std::lock_guard guard(m_lock);
    return m_timers.size();
}

size_t VirtualClock::pendingBackgroundTasks() const
{
    const std::lock_guard guard(m_lock);
    return m_background.size();
}

}
