#pragma once

#include <functional>

namespace quillpost {

// The moments the page must lock itself: the session locked, the screen saver started, the
// machine about to sleep, the screens asleep, another user's session taking over.
class SystemLockWatch {
public:
    enum class Event { ScreenLocked, ScreenSaverStarted, WillSleep, ScreensDidSleep, SessionResignedActive };

    virtual ~SystemLockWatch() = default;

    // Starts watching; every occurrence is reported, on the main thread. Called once.
    virtual void start(std::function<void(Event)> onEvent) = 0;

    static SystemLockWatch& shared();
};

}
