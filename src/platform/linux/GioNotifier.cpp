#include "platform/Notifications.h"

#include <gio/gio.h>

namespace quillpost {

namespace {

constexpr const char* clickAction = "notification-clicked";

// GNotification through the application: the notification service (or the portal) shows it, and
// a click comes back as the application action "app.notification-clicked" with the identifier.
class GioNotifier final : public Notifications {
public:
    void show(const std::string& id, const std::string& title, const std::string& body) override
    {
        auto* application = g_application_get_default();
        if (!application)
            return;
        registerAction(application);
        g_autoptr(GNotification) notification = g_notification_new(title.c_str());
        g_notification_set_body(notification, body.c_str());
        // Shown as a banner even while the program is in front.
        g_notification_set_priority(notification, G_NOTIFICATION_PRIORITY_HIGH);
        std::string action = "app.";
        action.append(clickAction);
        g_notification_set_default_action_and_target_value(notification, action.c_str(), g_variant_new_string(id.c_str()));
        // An empty identifier lets GLib make one; the click still carries "".
        g_application_send_notification(application, id.empty() ? nullptr : id.c_str(), notification);
    }

    void setOnClick(std::function<void(const std::string&)> onClick) override
    {
        m_onClick = std::move(onClick);
        if (auto* application = g_application_get_default())
            registerAction(application);
    }

private:
    void registerAction(GApplication* application)
    {
        if (m_registered)
            return;
        m_registered = true;
        g_autoptr(GSimpleAction) action = g_simple_action_new(clickAction, G_VARIANT_TYPE_STRING);
        g_signal_connect(action, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* parameter, gpointer self) {
            auto* notifier = static_cast<GioNotifier*>(self);
            std::string id = parameter ? g_variant_get_string(parameter, nullptr) : "";
            if (notifier->m_onClick)
                notifier->m_onClick(id);
        }), this);
        g_action_map_add_action(G_ACTION_MAP(application), G_ACTION(action));
    }

    std::function<void(const std::string&)> m_onClick;
    bool m_registered { false };
};

}

Notifications& Notifications::shared()
{
    static GioNotifier notifier;
    return notifier;
}

}
