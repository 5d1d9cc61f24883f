#pragma once

#include <cstdint>
#include <string>

namespace quillpost {

// The count on the application's launcher icon (the dock, the task bar).
class LauncherBadge {
public:
    virtual ~LauncherBadge() = default;

    // A count of 0 or less removes the badge.
    virtual void setCount(std::int64_t) = 0;
    // What the badge shows: the count, or nothing when there is none.
    virtual std::string label() const = 0;

    static LauncherBadge& shared();
};

}
