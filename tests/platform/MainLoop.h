#pragma once

#include <functional>
#include <glib.h>

namespace quillpost {

// Spins the main loop until the condition holds or the time is up; the platform services deliver
// their results there.
inline bool runUntil(const std::function<bool()>& condition, int seconds = 30)
{
    auto deadline = g_get_monotonic_time() + seconds * G_USEC_PER_SEC;
    // A ticking source wakes the loop so the deadline is seen even when nothing else happens.
    auto tick = g_timeout_add(50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!condition() && g_get_monotonic_time() < deadline)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return condition();
}

}
