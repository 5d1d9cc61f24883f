#pragma once

#include "platform/Clock.h"
#include "platform/MainQueue.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace quillpost {

// Brings the page back after its web process ends. Every save is on disk by then, so a reload
// costs at most the edit of the last moment; a page that keeps failing is reloaded ever more
// slowly, so that a crash at start-up never spins the machine.
class PageRecovery {
public:
    PageRecovery(Clock&, MainQueue&, std::function<void()> reload, std::function<void(const std::string&)> log);
    ~PageRecovery();

    void webProcessTerminated(const std::string& reason);

    static constexpr std::chrono::minutes window { 5 };
    static constexpr std::chrono::seconds longestDelay { 30 };

private:
    Clock& m_clock;
    MainQueue& m_mainQueue;
    std::function<void()> m_reload;
    std::function<void(const std::string&)> m_log;
    std::deque<Clock::TimePoint> m_recentEnds;
    std::optional<TimerId> m_pendingReload;
};

}
