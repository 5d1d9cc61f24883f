#include "platform/NestedLoop.h"

#include <glib.h>

namespace quillpost {

namespace {

class GLibNestedLoop final : public NestedLoop {
public:
    void runUntil(const std::function<bool()>& finished, std::chrono::milliseconds limit) override
    {
        bool expired = false;
        auto timer = g_timeout_add(static_cast<guint>(limit.count()), [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        }, &expired);
        // Each iteration blocks until some source is ready; the timer above makes sure one is.
        while (!finished() && !expired)
            g_main_context_iteration(nullptr, TRUE);
        if (!expired)
            g_source_remove(timer);
    }
};

}

NestedLoop& NestedLoop::shared()
{
    static GLibNestedLoop loop;
    return loop;
}

}
