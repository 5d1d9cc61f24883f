#include "platform/MainQueue.h"

#include <glib.h>
#include <unordered_map>

namespace quillpost {

namespace {

// The main thread's queue on the GLib main context that GTK runs.
class GLibMainQueue final : public MainQueue {
public:
    void post(std::function<void()> task) override
    {
        auto* heapTask = new std::function<void()>(std::move(task));
        // An idle source always runs on the thread that runs the main loop. g_main_context_invoke
        // would run the task on the calling thread whenever it can take the context for itself.
        g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, heapTask, deleteTask);
    }

    TimerId after(std::chrono::milliseconds delay, std::function<void()> task) override
    {
        auto id = ++m_lastId;
        auto* timer = new Timer { this, id, std::move(task) };
        auto interval = static_cast<guint>(std::max<std::chrono::milliseconds::rep>(0, delay.count()));
        m_sources[id] = g_timeout_add_full(G_PRIORITY_DEFAULT, interval, fire, timer, deleteTimer);
        return id;
    }

    void cancel(TimerId id) override
    {
        auto it = m_sources.find(id);
        if (it == m_sources.end())
            return;
        g_source_remove(it->second);
        m_sources.erase(it);
    }

private:
    struct Timer {
        GLibMainQueue* queue;
        TimerId id;
        std::function<void()> task;
    };

    static gboolean runOnce(gpointer data)
    {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
    }

    static void deleteTask(gpointer data) { delete static_cast<std::function<void()>*>(data); }

    static gboolean fire(gpointer data)
    {
        auto* timer = static_cast<Timer*>(data);
        timer->queue->m_sources.erase(timer->id);
        timer->task();
        return G_SOURCE_REMOVE;
    }

    static void deleteTimer(gpointer data) { delete static_cast<Timer*>(data); }

    TimerId m_lastId { 0 };
    std::unordered_map<TimerId, guint> m_sources;
};

}

MainQueue& MainQueue::shared()
{
    static GLibMainQueue queue;
    return queue;
}

}
