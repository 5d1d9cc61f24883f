#include "platform/SystemLockWatch.h"

#include "platform/Log.h"

#include <gio/gio.h>

#include <cstring>

namespace quillpost {

namespace {

// logind on the system bus (a session's Lock signal and LockedHint, the session going inactive,
// PrepareForSleep) and the screen savers on the session bus (ActiveChanged of the freedesktop and
// GNOME interfaces). Signals are taken from any sender: a false alarm only locks the page.
class DBusLockWatch final : public SystemLockWatch {
public:
    void start(std::function<void(Event)> onEvent) override
    {
        m_onEvent = std::move(onEvent);
        g_bus_get(G_BUS_TYPE_SYSTEM, nullptr, systemBusReady, this);
        g_bus_get(G_BUS_TYPE_SESSION, nullptr, sessionBusReady, this);
    }

private:
    void report(Event event)
    {
        if (m_onEvent)
            m_onEvent(event);
    }

    static void systemBusReady(GObject*, GAsyncResult* result, gpointer self)
    {
        g_autoptr(GError) error = nullptr;
        auto* bus = g_bus_get_finish(result, &error);
        if (!bus) {
            Log::info(std::string("The screen-lock watch has no system bus: ") + error->message);
            return;
        }
        g_dbus_connection_signal_subscribe(bus, nullptr, "org.freedesktop.login1.Session", "Lock", nullptr, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, sessionLocked, self, nullptr);
        g_dbus_connection_signal_subscribe(bus, nullptr, "org.freedesktop.login1.Manager", "PrepareForSleep", nullptr, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, prepareForSleep, self, nullptr);
        g_dbus_connection_signal_subscribe(bus, nullptr, "org.freedesktop.DBus.Properties", "PropertiesChanged", nullptr,
            "org.freedesktop.login1.Session", G_DBUS_SIGNAL_FLAGS_NONE, sessionPropertiesChanged, self, nullptr);
        // The connection lives as long as the program; the subscriptions hold on to it.
    }

    static void sessionBusReady(GObject*, GAsyncResult* result, gpointer self)
    {
        g_autoptr(GError) error = nullptr;
        auto* bus = g_bus_get_finish(result, &error);
        if (!bus)
            return;
        for (auto* interface : { "org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver" }) {
            g_dbus_connection_signal_subscribe(bus, nullptr, interface, "ActiveChanged", nullptr, nullptr,
                G_DBUS_SIGNAL_FLAGS_NONE, screenSaverChanged, self, nullptr);
        }
    }

    static bool firstBoolean(GVariant* parameters)
    {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
            return false;
        gboolean value = FALSE;
        g_variant_get(parameters, "(b)", &value);
        return value;
    }

    static void sessionLocked(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*, gpointer self)
    {
        static_cast<DBusLockWatch*>(self)->report(Event::ScreenLocked);
    }

    static void prepareForSleep(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer self)
    {
        if (firstBoolean(parameters))
            static_cast<DBusLockWatch*>(self)->report(Event::WillSleep);
    }

    static void screenSaverChanged(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer self)
    {
        if (firstBoolean(parameters))
            static_cast<DBusLockWatch*>(self)->report(Event::ScreenSaverStarted);
    }

    static void sessionPropertiesChanged(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer self)
    {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)")))
            return;
        auto* watch = static_cast<DBusLockWatch*>(self);
        g_autoptr(GVariant) changed = g_variant_get_child_value(parameters, 1);
        gboolean value = FALSE;
        if (g_variant_lookup(changed, "LockedHint", "b", &value) && value)
            watch->report(Event::ScreenLocked);
        if (g_variant_lookup(changed, "Active", "b", &value) && !value)
            watch->report(Event::SessionResignedActive);
    }

    std::function<void(Event)> m_onEvent;
};

}

SystemLockWatch& SystemLockWatch::shared()
{
    static DBusLockWatch watch;
    return watch;
}

}
