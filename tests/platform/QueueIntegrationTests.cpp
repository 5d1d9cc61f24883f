// The GLib main queue and the worker-thread background queue, running for real.

#include "platform/BackgroundQueue.h"
#include "platform/MainQueue.h"

#include "MainLoop.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <atomic>
#include <thread>
#include <vector>

namespace quillpost {
namespace {

TEST(QueueIntegration, TimersFireInOrderAndCancelledOnesNever)
{
    auto& queue = MainQueue::shared();
    std::vector<int> fired;
    queue.after(std::chrono::milliseconds(30), [&] { fired.push_back(2); });
    auto cancelled = queue.after(std::chrono::milliseconds(10), [&] { fired.push_back(99); });
    queue.after(std::chrono::milliseconds(0), [&] { fired.push_back(1); });
    queue.cancel(cancelled);
    ASSERT_TRUE(runUntil([&] { return fired.size() == 2; }));
    EXPECT_EQ(fired, (std::vector<int> { 1, 2 }));

    // Cancelling a timer that has fired, or one that never existed, is harmless.
    queue.cancel(cancelled);
    queue.cancel(123456);
}

TEST(QueueIntegration, WorkRunsOffTheMainThreadInOrderAndReportsBackOnIt)
{
    auto mainThread = std::this_thread::get_id();
    std::vector<int> order;
    std::atomic<bool> offMain { true };
    std::thread::id reportedOn;
    for (int task = 0; task < 50; ++task) {
        BackgroundQueue::shared().async([&, task] {
            offMain = offMain && std::this_thread::get_id() != mainThread;
            order.push_back(task);
            if (task == 49)
                MainQueue::shared().post([&] { reportedOn = std::this_thread::get_id(); });
        });
    }
    ASSERT_TRUE(runUntil([&] { return reportedOn == mainThread; }));
    EXPECT_TRUE(offMain);
    ASSERT_EQ(order.size(), 50u);
    for (int task = 0; task < 50; ++task)
        EXPECT_EQ(order[task], task);
}

}
}
