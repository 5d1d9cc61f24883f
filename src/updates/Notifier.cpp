#include "updates/Notifier.h"

#include "platform/Notifications.h"

namespace quillpost {

Notifier::Notifier(Notifications& notifications, Mode mode)
    : m_notifications(notifications)
{
    if (mode == Mode::Record)
        m_recorded.emplace();
    // Clicks are routed in a self-test run too, so that a test can click a recorded notification.
    m_notifications.setOnClick([this](const std::string& id) {
        if (onClick)
            onClick(id);
    });
}

void Notifier::post(const std::string& id, const std::string& title, const std::string& body)
{
    if (m_recorded) {
        m_recorded->push_back({ id, title, body });
        return;
    }
    m_notifications.show(id, title, body);
}

}
