#include "app/QuitCoordinator.h"

#include "platform/MainQueue.h"
#include "platform/NestedLoop.h"
#include "platform/WebView.h"

namespace quillpost {

// Shared by the page's answer and the timer: whichever comes first finishes, the other finds it done.
struct QuitCoordinator::Attempt {
    bool finished { false };
    std::optional<TimerId> timer;
    std::function<void()> onFinish;
};

QuitCoordinator::QuitCoordinator(MainQueue& mainQueue, NestedLoop& nestedLoop, CloseEditors closeEditors)
    : m_mainQueue(mainQueue)
    , m_nestedLoop(nestedLoop)
    , m_closeEditors(std::move(closeEditors))
    , m_alive(std::make_shared<bool>(true))
{
}

QuitCoordinator::~QuitCoordinator()
{
    *m_alive = false;
}

void QuitCoordinator::requestQuit(WebView* page, std::function<void()> terminate)
{
    if (m_quitting)
        return;
    m_quitting = true;
    if (!m_closeEditors) {
        saveThen(page, saveLimit, std::move(terminate));
        return;
    }
    std::weak_ptr<bool> alive = m_alive;
    m_closeEditors([this, alive, page, terminate = std::move(terminate)](bool allClosed) mutable {
        auto living = alive.lock();
        if (!living || !*living)
            return;
        if (!allClosed) {
            m_quitting = false;
            return;
        }
        saveThen(page, saveLimit, std::move(terminate));
    });
}

void QuitCoordinator::terminate(WebView* page, std::function<void()> stop)
{
    if (m_terminating)
        return;
    m_terminating = true;
    saveThen(page, terminationSaveLimit, std::move(stop));
}

void QuitCoordinator::saveThen(WebView* page, std::chrono::milliseconds limit, std::function<void()> then)
{
    if (!page) {
        then();
        return;
    }

    auto attempt = std::make_shared<Attempt>();
    std::weak_ptr<bool> alive = m_alive;
    attempt->onFinish = [alive, then = std::move(then)] {
        auto living = alive.lock();
        if (living && *living)
            then();
    };
    auto finish = [&mainQueue = m_mainQueue, attempt] {
        if (attempt->finished)
            return;
        attempt->finished = true;
        if (attempt->timer)
            mainQueue.cancel(*attempt->timer);
        auto onFinish = std::move(attempt->onFinish);
        onFinish();
    };
    attempt->timer = m_mainQueue.after(limit, [attempt, finish] {
        attempt->timer.reset();
        finish();
    });
    page->callAsyncFunction(saveScript, Json::object(), [finish](std::optional<Json>, std::string) { finish(); });
}

void QuitCoordinator::flushForUpdate(WebView* page)
{
    if (!page)
        return;
    auto saved = std::make_shared<bool>(false);
    page->callAsyncFunction(saveScript, Json::object(), [saved](std::optional<Json>, std::string) { *saved = true; });
    if (*saved)
        return;
    m_nestedLoop.runUntil([saved] { return *saved; }, saveLimit);
}

}
