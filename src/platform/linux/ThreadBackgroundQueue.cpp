#include "platform/BackgroundQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace quillpost {

namespace {

// One worker thread that runs tasks in order. It finishes the queued tasks before the program exits.
class ThreadBackgroundQueue final : public BackgroundQueue {
public:
    ThreadBackgroundQueue()
        : m_worker([this](std::stop_token stop) { work(stop); })
    {
    }

    void async(std::function<void()> task) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wakeUp.notify_one();
    }

private:
    void work(std::stop_token stop)
    {
        while (true) {
            std::function<void()> task;
            {
                std::unique_lock lock(m_mutex);
                m_wakeUp.wait(lock, stop, [&] { return !m_tasks.empty(); });
                if (m_tasks.empty())
                    return;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable_any m_wakeUp;
    std::deque<std::function<void()>> m_tasks;
    std::jthread m_worker;
};

}

BackgroundQueue& BackgroundQueue::shared()
{
    static ThreadBackgroundQueue queue;
    return queue;
}

}
