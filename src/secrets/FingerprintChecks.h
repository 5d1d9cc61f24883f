#pragma once

#include "platform/Fingerprint.h"
#include "platform/MainQueue.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillpost {

// The checks the program asks of the reader, kept from holding it longer than they need: the
// system's fingerprint service lets one client claim the reader, and the desktop's own lock
// screen wants it too. A check gives the reader back after a time limit; once one check has
// answered (or run out of time) the others still waiting are cancelled; and while the desktop
// locks, every check is cancelled and new ones wait until the window is back in use.
class FingerprintChecks {
public:
    static constexpr std::chrono::milliseconds timeLimit { std::chrono::seconds(30) };
    // While paused, how often the window's focus is looked at, and how long a window that never
    // lost its focus (no lock screen came up) keeps new checks waiting.
    static constexpr std::chrono::milliseconds pausePoll { std::chrono::seconds(1) };
    static constexpr std::chrono::milliseconds pauseWithoutLockScreen { std::chrono::seconds(5) };

    FingerprintChecks(Fingerprint&, MainQueue&, std::chrono::milliseconds limit = timeLimit);
    ~FingerprintChecks();
    FingerprintChecks(const FingerprintChecks&) = delete;
    FingerprintChecks& operator=(const FingerprintChecks&) = delete;

    // As Fingerprint::verify: the completion runs once, with Outcome::Cancelled when the check was
    // cancelled, replaced by another's answer or ran out of time.
    std::shared_ptr<Fingerprint::Verification> verify(const std::string& reason, std::function<void(Fingerprint::Result)>);

    void cancelAll();

    // The desktop is locking: cancels every check, and holds new ones until windowActive() says
    // the window has its focus again after losing it (or kept it for pauseWithoutLockScreen).
    void pause(std::function<bool()> windowActive);
    bool paused() const { return m_paused; }

    // Checks not yet answered, held ones included.
    size_t pending() const { return m_checks.size(); }

private:
    class Check;
    void start(const std::shared_ptr<Check>&);
    void finished(const std::shared_ptr<Check>&, const Fingerprint::Result&);
    void poll();
    void resume();

    Fingerprint& m_fingerprint;
    MainQueue& m_mainQueue;
    std::chrono::milliseconds m_limit;
    std::vector<std::shared_ptr<Check>> m_checks;
    bool m_paused { false };
    std::function<bool()> m_windowActive;
    bool m_sawInactive { false };
    std::chrono::milliseconds m_activeFor { 0 };
    TimerId m_pollTimer { 0 };
};

}
