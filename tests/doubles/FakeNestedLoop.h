#pragma once

#include "doubles/VirtualClock.h"
#include "platform/NestedLoop.h"

namespace quillpost {

// A nested wait that moves the virtual clock on in small steps, as the real main loop would
// serve timers while it waits.
class FakeNestedLoop final : public NestedLoop {
public:
    explicit FakeNestedLoop(VirtualClock& clock)
        : m_clock(clock)
    {
    }

    void runUntil(const std::function<bool()>& finished, std::chrono::milliseconds limit) override
    {
        std::chrono::milliseconds waited { 0 };
        while (!finished() && waited < limit) {
            m_clock.advance(step);
            waited += step;
        }
        lastWait = waited;
    }

    static constexpr std::chrono::milliseconds step { 50 };
    std::chrono::milliseconds lastWait { 0 };

private:
    VirtualClock& m_clock;
};

}
