#include "secrets/FingerprintChecks.h"

#include <algorithm>

namespace quillpost {

using Outcome = Fingerprint::Outcome;

class FingerprintChecks::Check final : public Fingerprint::Verification, public std::enable_shared_from_this<Check> {
public:
    Check(FingerprintChecks& checks, std::string why, std::function<void(Fingerprint::Result)> done)
        : owner(&checks)
        , reason(std::move(why))
        , completion(std::move(done))
    {
    }

    void cancel() override
    {
        if (answered || !owner)
            return;
        if (inner) {
            // The reader's own check answers, once it has let go of the reader.
            inner->cancel();
            return;
        }
        if (started) {
            // Cancelled from inside the reader's verify call: done as soon as it returns.
            cancelRequested = true;
            return;
        }
        owner->finished(shared_from_this(), { Outcome::Cancelled, std::nullopt });
    }

    FingerprintChecks* owner;
    std::string reason;
    std::function<void(Fingerprint::Result)> completion;
    std::shared_ptr<Fingerprint::Verification> inner;
    TimerId timer { 0 };
    bool started { false };
    bool answered { false };
    bool timedOut { false };
    bool cancelRequested { false };
};

FingerprintChecks::FingerprintChecks(Fingerprint& fingerprint, MainQueue& mainQueue, std::chrono::milliseconds limit)
    : m_fingerprint(fingerprint)
    , m_mainQueue(mainQueue)
    , m_limit(limit)
{
}

FingerprintChecks::~FingerprintChecks()
{
    for (auto& check : m_checks) {
        if (check->timer)
            m_mainQueue.cancel(check->timer);
        check->owner = nullptr;
    }
    if (m_pollTimer)
        m_mainQueue.cancel(m_pollTimer);
}

std::shared_ptr<Fingerprint::Verification> FingerprintChecks::verify(const std::string& reason, std::function<void(Fingerprint::Result)> completion)
{
    auto check = std::make_shared<Check>(*this, reason, std::move(completion));
    m_checks.push_back(check);
    if (!m_paused)
        start(check);
    return check;
}

void FingerprintChecks::start(const std::shared_ptr<Check>& check)
{
    check->started = true;
    std::weak_ptr<Check> weak = check;
    check->timer = m_mainQueue.after(m_limit, [weak] {
        auto current = weak.lock();
        if (!current)
            return;
        current->timer = 0;
        current->timedOut = true;
        current->cancel();
    });
    auto inner = m_fingerprint.verify(check->reason, [weak](Fingerprint::Result result) {
        auto current = weak.lock();
        if (current && current->owner)
            current->owner->finished(current, result);
    });
    if (check->answered)
        return;
    check->inner = std::move(inner);
    if (check->cancelRequested)
        check->inner->cancel();
}

void FingerprintChecks::finished(const std::shared_ptr<Check>& check, const Fingerprint::Result& result)
{
    if (check->answered)
        return;
    check->answered = true;
    if (check->timer)
        m_mainQueue.cancel(check->timer);
    check->timer = 0;
    std::erase(m_checks, check);
    // An answer (or a reader left untouched for the whole time) settles the others waiting for a finger.
    if (result.outcome != Outcome::Cancelled || check->timedOut)
        cancelAll();
    auto completion = std::move(check->completion);
    check->completion = nullptr;
    if (completion)
        completion(result);
}

void FingerprintChecks::cancelAll()
{
    auto checks = m_checks;
    for (auto& check : checks)
        check->cancel();
}

void FingerprintChecks::pause(std::function<bool()> windowActive)
{
    m_paused = true;
    m_windowActive = std::move(windowActive);
    m_sawInactive = false;
    m_activeFor = std::chrono::milliseconds(0);
    if (m_pollTimer)
        m_mainQueue.cancel(m_pollTimer);
    m_pollTimer = m_mainQueue.after(pausePoll, [this] { poll(); });
    cancelAll();
}

void FingerprintChecks::poll()
{
    m_pollTimer = 0;
    if (!m_windowActive) {
        resume();
        return;
    }
    if (!m_windowActive()) {
        m_sawInactive = true;
        m_activeFor = std::chrono::milliseconds(0);
    } else {
        m_activeFor += pausePoll;
        if (m_sawInactive || m_activeFor >= pauseWithoutLockScreen) {
            resume();
            return;
        }
    }
    m_pollTimer = m_mainQueue.after(pausePoll, [this] { poll(); });
}

void FingerprintChecks::resume()
{
    m_paused = false;
    m_windowActive = nullptr;
    auto checks = m_checks;
    for (auto& check : checks) {
        if (!check->started && !check->answered && !m_paused)
            start(check);
    }
}

}
