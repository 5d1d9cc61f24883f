#include "app/PageRecovery.h"
#include "doubles/VirtualClock.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using namespace std::chrono_literals;

TEST(PageRecovery, ReloadsAtOnceThenEverMoreSlowlyWhileThePageKeepsFailing)
{
    VirtualClock clock;
    int reloads = 0;
    std::vector<std::string> logged;
    PageRecovery recovery(clock, clock, [&] { ++reloads; }, [&](const std::string& line) { logged.push_back(line); });

    recovery.webProcessTerminated("The page's web process crashed.");
    clock.advance(0ms);
    EXPECT_EQ(reloads, 1);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "The page's web process crashed. Reloading the page; the data on disk is unchanged.");

    // Each further end within the window waits twice as long: 1 s, 2 s, 4 s ... up to 30 s.
    std::vector<std::chrono::milliseconds> waits;
    for (int repeat = 0; repeat < 7; ++repeat) {
        recovery.webProcessTerminated("The page's web process crashed.");
        const int before = reloads;
        std::chrono::milliseconds waited { 0 };
        while (reloads == before && waited < 60s) {
            clock.advance(100ms);
            waited += 100ms;
        }
        waits.push_back(waited);
    }
    EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds> { 1s, 2s, 4s, 8s, 16s, 30s, 30s }));
    EXPECT_EQ(logged.back(), "The page's web process crashed. Reloading the page in 30 s; the data on disk is unchanged.");

    // After a quiet spell the next end reloads at once again.
    clock.advance(PageRecovery::window + 1s);
    recovery.webProcessTerminated("The page's web process crashed.");
    const int before = reloads;
    clock.advance(0ms);
    EXPECT_EQ(reloads, before + 1);
}

TEST(PageRecovery, AReloadStillWaitingIsReplacedNotDoubled)
{
    VirtualClock clock;
    int reloads = 0;
    auto recovery = std::make_unique<PageRecovery>(clock, clock, [&] { ++reloads; }, [](const std::string&) {});
    recovery->webProcessTerminated("first");
    recovery->webProcessTerminated("second");
    clock.advance(10s);
    EXPECT_EQ(reloads, 1);

    recovery->webProcessTerminated("third");
    recovery.reset();
    clock.advance(60s);
    EXPECT_EQ(reloads, 1) << "no reload after the window is gone";
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

}
}
