#include "app/PageRecovery.h"

#include <algorithm>

namespace quillpost {

PageRecovery::PageRecovery(Clock& clock, MainQueue& mainQueue, std::function<void()> reload, std::function<void(const std::string&)> log)
    : m_clock(clock)
    , m_mainQueue(mainQueue)
    , m_reload(std::move(reload))
    , m_log(std::move(log))
{
}

PageRecovery::~PageRecovery()
{
    if (m_pendingReload)
        m_mainQueue.cancel(*m_pendingReload);
}

void PageRecovery::webProcessTerminated(const std::string& reason)
{
    const auto now = m_clock.now();
    while (!m_recentEnds.empty() && now - m_recentEnds.front() > window)
        m_recentEnds.pop_front();
    m_recentEnds.push_back(now);

    // The first end in a while reloads at once; each further one waits twice as long as the last.
    const auto repeats = std::min<size_t>(m_recentEnds.size() - 1, 8);
    const auto delay = repeats ? std::min<std::chrono::milliseconds>(std::chrono::seconds(1) * (1 << (repeats - 1)), longestDelay)
                               : std::chrono::milliseconds(0);

    m_log(reason + " Reloading the page" + (delay.count() ? " in " + std::to_string(delay.count() / 1000) + " s" : "")
        + "; the data on disk is unchanged.");
    if (m_pendingReload)
        m_mainQueue.cancel(*m_pendingReload);
    m_pendingReload = m_mainQueue.after(delay, [this] {
        m_pendingReload.reset();
        m_reload();
    });
}

}
