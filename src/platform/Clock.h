#pragma once

#include <chrono>

namespace quillpost {

// Wall-clock time. The application uses the system clock; unit tests give a virtual one.
class Clock {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;

    static Clock& system();
};

}
