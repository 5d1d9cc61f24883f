#include "app/PageRecovery.h"
#include "doubles/VirtualClock.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using namespace std::chrono_literals;

TEST(PageRecovery, ReloadsAtOnceThenEverMoreSlowlyOnceAtATimeWhileThePageKeepsFailing)
{
    VirtualClock clock;
    int reloads = 0;
    std::vector<std::string> logged;
    auto recovery = std::make_unique<PageRecovery>(clock, clock, [&] { ++reloads; }, [&](const std::string& line) { logged.push_back(line); });
    recovery->webProcessTerminated("The page's web process crashed.");
    clock.advance(0ms);
    EXPECT_EQ(reloads, 1);
    EXPECT_TRUE(logged.at(0).starts_with("The page's web process crashed. Reloading the page;")) << logged[0];

    // Each further end within the window waits twice as long: 1 s, 2 s, 4 s ... up to 30 s.
    std::vector<std::chrono::milliseconds> waits;
    for (int repeat = 0; repeat < 7; ++repeat) {
        recovery->webProcessTerminated("crashed.");
        const int before = reloads;
        std::chrono::milliseconds waited { 0 };
        while (reloads == before && waited < 60s) {
            clock.advance(100ms);
            waited += 100ms;
        }
        waits.push_back(waited);
    }
    EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds> { 1s, 2s, 4s, 8s, 16s, 30s, 30s }));
    EXPECT_NE(logged.back().find("in 30 s"), std::string::npos) << logged.back();

    // After a quiet spell the next end reloads at once again; a second end replaces its reload.
    clock.advance(PageRecovery::window + 1s);
    recovery->webProcessTerminated("first");
    recovery->webProcessTerminated("second");
    clock.advance(10s);
    EXPECT_EQ(reloads, 9);

    recovery->webProcessTerminated("third");
    recovery.reset();
    clock.advance(60s);
    EXPECT_EQ(reloads, 9) << "no reload after the window is gone";
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

}
}
