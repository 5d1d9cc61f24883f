#include "platform/LauncherBadge.h"

#include <gio/gio.h>

namespace quillpost {

namespace {

// The com.canonical.Unity.LauncherEntry signal, which KDE Plasma, Dash to Dock and Plank show.
// It names the application by its desktop file; a desktop without a listener ignores it.
class UnityLauncherBadge final : public LauncherBadge {
public:
    void setCount(std::int64_t count) override
    {
        m_count = count;
        g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (!bus)
            return;
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&properties, "{sv}", "count", g_variant_new_int64(count > 0 ? count : 0));
        g_variant_builder_add(&properties, "{sv}", "count-visible", g_variant_new_boolean(count > 0));
        g_dbus_connection_emit_signal(bus, nullptr, "/org/quillpost/Quillpost/LauncherEntry", "com.canonical.Unity.LauncherEntry", "Update",
            g_variant_new("(sa{sv})", "application://org.quillpost.Quillpost.desktop", &properties), nullptr);
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    }

    std::string label() const override { return m_count > 0 ? std::to_string(m_count) : std::string(); }

private:
    std::int64_t m_count { 0 };
};

}

LauncherBadge& LauncherBadge::shared()
{
    static UnityLauncherBadge badge;
    return badge;
}

}
