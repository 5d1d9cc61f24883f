#include "updates/Notifier.h"

#include "platform/Notifications.h"

#include <cstdlib>

namespace quillpost {

Notifier& Notifier::shared()
{
    static Notifier notifier(Notifications::shared(), std::getenv("QUILLPOST_SELFTEST") ? Notifier::Mode::Record : Notifier::Mode::Show);
    return notifier;
}

}
