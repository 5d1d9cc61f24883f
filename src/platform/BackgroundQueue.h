#pragma once

#include <functional>

namespace quillpost {

// A serial queue off the main thread: tasks run one after another, in the order given.
class BackgroundQueue {
public:
    virtual ~BackgroundQueue() = default;
    virtual void async(std::function<void()> task) = 0;

    static BackgroundQueue& shared();
};

}
