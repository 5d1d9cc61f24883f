#include "updates/Notifier.h"

#include "common/Utf8.h"
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
    // A printed file's name is whatever the printing program sent; the desktop takes only UTF-8.
    Record record { validUtf8(id), validUtf8(title), validUtf8(body) };
    if (m_recorded) {
        m_recorded->push_back(std::move(record));
        return;
    }
    m_notifications.show(record.id, record.title, record.body);
}

}
