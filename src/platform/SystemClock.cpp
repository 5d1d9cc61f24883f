#include "platform/Clock.h"

namespace quillpost {

namespace {

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::system_clock::now(); }
};

}

Clock& Clock::system()
{
    static SystemClock clock;
    return clock;
}

}
