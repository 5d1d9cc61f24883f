#pragma once

#include <functional>
#include <gio/gio.h>
#include <optional>
#include <string>

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

// An answer a service gives later on the main loop.
template <typename T>
struct Awaited {
    std::optional<T> value;
    std::function<void(T)> collect()
    {
        return [this](T answer) { value = std::move(answer); };
    }
    bool arrived(int seconds = 30) { return runUntil([this] { return value.has_value(); }, seconds); }
    T* operator->() { return &*value; }
};

// A Python stand-in beside these tests, for as long as this lives. It prints one line once ready.
struct StandIn {
    GSubprocess* process { nullptr };
    std::string ready; // the line, empty when it didn't start

    explicit StandIn(const char* script)
    {
        const std::string path = std::string(QUILLPOST_SOURCE_DIR "/tests/platform/") + script;
        process = g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr, "/usr/bin/python3", path.c_str(), nullptr);
        if (!process)
            return;
        g_autoptr(GDataInputStream) lines = g_data_input_stream_new(g_subprocess_get_stdout_pipe(process));
        g_autofree char* line = g_data_input_stream_read_line(lines, nullptr, nullptr, nullptr);
        ready = line ? line : "";
    }

    ~StandIn()
    {
        if (process) {
            g_subprocess_force_exit(process);
            g_subprocess_wait(process, nullptr, nullptr);
            g_object_unref(process);
        }
    }
};

}
