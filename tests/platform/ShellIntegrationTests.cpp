// The lock watch on a real session bus, and the nested wait on the real main loop.

#include "MainLoop.h"
#include "platform/NestedLoop.h"
#include "platform/SystemLockWatch.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <vector>

namespace quillpost {
namespace {

void emit(GDBusConnection* bus, const char* interface, GVariant* parameters)
{
    g_autoptr(GError) error = nullptr;
    ASSERT_TRUE(g_dbus_connection_emit_signal(bus, nullptr, "/org/freedesktop/ScreenSaver", interface, "ActiveChanged", parameters, &error))
        << (error ? error->message : "");
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

TEST(SystemLockWatchIntegration, AScreenSaverStartingIsReportedAndOddSignalsAreNot)
{
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_TRUE(bus) << "the platform tests run inside dbus-run-session";
    std::vector<SystemLockWatch::Event> events;
    SystemLockWatch::shared().start([&](SystemLockWatch::Event event) { events.push_back(event); });
    // The watch connects to the buses asynchronously; give it the main loop for a moment.
    runUntil([] { return false; }, 1);

    emit(bus, "org.freedesktop.ScreenSaver", g_variant_new("(b)", FALSE));
    emit(bus, "org.freedesktop.ScreenSaver", g_variant_new("(s)", "true"));
    emit(bus, "org.gnome.ScreenSaver", g_variant_new("(bb)", TRUE, TRUE));
    emit(bus, "org.freedesktop.ScreenSaver", nullptr);
    emit(bus, "org.freedesktop.ScreenSaver", g_variant_new("(b)", TRUE));
    emit(bus, "org.gnome.ScreenSaver", g_variant_new("(b)", TRUE));
    EXPECT_TRUE(runUntil([&] { return events.size() >= 2; }, 10));
    runUntil([] { return false; }, 1);
    EXPECT_EQ(events, (std::vector<SystemLockWatch::Event> { SystemLockWatch::Event::ScreenSaverStarted, SystemLockWatch::Event::ScreenSaverStarted }));
}

TEST(NestedLoopIntegration, ServesTheMainLoopUntilDoneOrTheLimit)
{
    bool done = false;
    g_timeout_add(100, [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
    }, &done);
    auto start = g_get_monotonic_time();
    NestedLoop::shared().runUntil([&] { return done; }, std::chrono::milliseconds(5000));
    auto waited = (g_get_monotonic_time() - start) / 1000;
    EXPECT_TRUE(done);
    EXPECT_LT(waited, 1000);

    start = g_get_monotonic_time();
    NestedLoop::shared().runUntil([] { return false; }, std::chrono::milliseconds(300));
    waited = (g_get_monotonic_time() - start) / 1000;
    EXPECT_GE(waited, 290);
    EXPECT_LT(waited, 1500);
}

}
}
