#include "app/PageRecovery.h"
#include "app/QuitCoordinator.h"
#include "doubles/FakeWebView.h"
#include "doubles/VirtualClock.h"
#include "platform/NestedLoop.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;

// A nested wait that moves the virtual clock on in steps of 50 ms, as the real main loop serves
// timers while it waits.
struct FakeNestedLoop final : NestedLoop {
    explicit FakeNestedLoop(VirtualClock& virtualClock)
        : clock(virtualClock)
    {
    }
    void runUntil(const std::function<bool()>& finished, ms limit) override
    {
        for (lastWait = 0ms; !finished() && lastWait < limit; lastWait += 50ms)
            clock.advance(50ms);
    }
    VirtualClock& clock;
    ms lastWait { 0 };
};

struct QuitRace : ::testing::Test {
    VirtualClock clock;
    FakeNestedLoop loop { clock };
    FakeWebView page;
    int terminations = 0;
    std::function<void()> end = [this] { ++terminations; };
};

// A quit (Ctrl+Q, the window closed) gives the page two seconds to save; SIGTERM and the session's
// end give it one and ask no editor window. Whichever comes first, the answer or the limit, ends it once.
TEST_F(QuitRace, ThePageSavesThenTheProgramEndsOnceWithinTheLimit)
{
    // name, a termination (not a quit), when the page answers, its error, when the program ends
    const std::tuple<const char*, bool, std::optional<ms>, std::string, ms> cases[] = {
        { "a quit the page answers at once", false, 0ms, {}, 0ms },
        { "a quit whose save fails", false, 20ms, "TypeError: App.saveNow is not a function", 20ms },
        { "a quit the page hangs", false, std::nullopt, {}, 2000ms },
        { "a quit the page answers late", false, 3000ms, {}, 2000ms },
        { "a termination the page saves in 150 ms", true, 150ms, {}, 150ms },
        { "a termination the page answers late", true, 1500ms, {}, 1000ms },
    };
    for (const auto& [name, terminate, answerAfter, error, endsAfter] : cases) {
        SCOPED_TRACE(name);
        FakeWebView view;
        int editorRounds = 0;
        QuitCoordinator coordinator { clock, loop, [&](std::function<void(bool)> done) {
                                         ++editorRounds;
                                         done(true);
                                     } };
        std::vector<ms> ends;
        const auto start = clock.now();
        auto stop = [&] { ends.push_back(std::chrono::duration_cast<ms>(clock.now() - start)); };
        for (int twice = 0; twice < 2; ++twice)
            terminate ? coordinator.terminate(&view, stop) : coordinator.requestQuit(&view, stop);
        ASSERT_EQ(view.asyncCalls.size(), 1u) << "a second request joins the first";
        EXPECT_EQ(view.asyncCalls[0].script, QuitCoordinator::saveScript);
        EXPECT_TRUE(ends.empty()) << "the page is asked first";
        EXPECT_EQ(editorRounds, terminate ? 0 : 1);
        if (answerAfter)
            clock.after(*answerAfter, [&, failure = error] { view.asyncCalls[0].completion(failure.empty() ? std::optional(Json(1)) : std::nullopt, failure); });
        clock.advance(5s);
        EXPECT_EQ(ends, std::vector { endsAfter });
        EXPECT_EQ(clock.pendingTimers(), 0u);
    }

    // An update's flush waits for the save or the limit, and is no quit.
    QuitCoordinator quit { clock, loop };
    clock.after(300ms, [&] { page.asyncCalls[0].completion(Json(1), {}); });
    quit.flushForUpdate(&page);
    EXPECT_EQ(loop.lastWait, 300ms);
    FakeWebView hanging;
    quit.flushForUpdate(&hanging);
    EXPECT_EQ(loop.lastWait, QuitCoordinator::saveLimit);
    EXPECT_FALSE(quit.quitting());

    // Without a page, at once.
    quit.requestQuit(nullptr, end);
    QuitCoordinator another { clock, loop };
    another.terminate(nullptr, end);
    EXPECT_EQ(terminations, 2);
}

TEST_F(QuitRace, EditorWindowsAreAskedBeforeThePageSavesAndAKeptOneStopsTheQuit)
{
    std::vector<std::function<void(bool)>> editorRounds;
    const auto askEditors = [&](std::function<void(bool)> done) { editorRounds.push_back(std::move(done)); };
    QuitCoordinator withEditors { clock, loop, askEditors };
    withEditors.requestQuit(&page, end);
    withEditors.requestQuit(&page, end);
    ASSERT_EQ(editorRounds.size(), 1u);
    EXPECT_TRUE(page.asyncCalls.empty()) << "the page saves only once the editors are closed";

    // The user keeps an editor: nothing ends, no timer waits, and the next quit asks again.
    editorRounds[0](false);
    EXPECT_FALSE(withEditors.quitting());
    EXPECT_EQ(clock.pendingTimers(), 0u);
    withEditors.requestQuit(&page, end);
    ASSERT_EQ(editorRounds.size(), 2u);

    // A termination meanwhile ends the program in a second all the same.
    int stopped = 0;
    withEditors.terminate(&page, [&] { ++stopped; });
    clock.advance(1s);
    EXPECT_EQ(stopped, 1);

    // A question, a timer or an answer still to come when the coordinator goes ends nothing later.
    auto shortLived = std::make_unique<QuitCoordinator>(clock, loop, askEditors);
    shortLived->requestQuit(&page, end);
    shortLived.reset();
    editorRounds.back()(true);
    EXPECT_EQ(page.asyncCalls.size(), 1u);
    shortLived = std::make_unique<QuitCoordinator>(clock, loop);
    shortLived->requestQuit(&page, end);
    shortLived.reset();
    clock.advance(3s);
    page.asyncCalls[1].completion(Json(1), {});
    EXPECT_EQ(terminations, 0);
}

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
    std::vector<ms> waits;
    for (int repeat = 0; repeat < 7; ++repeat) {
        recovery->webProcessTerminated("crashed.");
        const int before = reloads;
        ms waited { 0 };
        for (; reloads == before && waited < 60s; waited += 100ms)
            clock.advance(100ms);
        waits.push_back(waited);
    }
    EXPECT_EQ(waits, (std::vector<ms> { 1s, 2s, 4s, 8s, 16s, 30s, 30s }));
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
