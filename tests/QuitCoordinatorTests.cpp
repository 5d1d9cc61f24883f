#include "app/QuitCoordinator.h"
#include "doubles/FakeNestedLoop.h"
#include "doubles/FakeWebView.h"
#include "doubles/VirtualClock.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using namespace std::chrono_literals;

struct QuitRace : ::testing::Test {
    VirtualClock clock;
    FakeNestedLoop loop { clock };
    FakeWebView page;
    QuitCoordinator quit { clock, loop };
    int terminations = 0;

    void answerPage(std::optional<Json> result, std::string error = {})
    {
        ASSERT_EQ(page.asyncCalls.size(), 1u);
        page.asyncCalls[0].completion(std::move(result), std::move(error));
    }
};

TEST_F(QuitRace, APageThatAnswersAtOnceEndsTheProgramWithoutWaitingForTheTimer)
{
    quit.requestQuit(&page, [&] { ++terminations; });
    ASSERT_EQ(page.asyncCalls.size(), 1u);
    EXPECT_EQ(page.asyncCalls[0].body, QuitCoordinator::saveScript);
    EXPECT_EQ(terminations, 0) << "the page is asked first";

    answerPage(Json(1));
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(clock.pendingTimers(), 0u);
    clock.advance(5s);
    EXPECT_EQ(terminations, 1);
}

TEST_F(QuitRace, APageThatHangsOrFailsStillLetsTheProgramEnd)
{
    quit.requestQuit(&page, [&] { ++terminations; });
    clock.advance(1999ms);
    EXPECT_EQ(terminations, 0);
    clock.advance(1ms);
    EXPECT_EQ(terminations, 1) << "two seconds are the limit";
    // The page's save finishes three seconds later: nothing more happens.
    answerPage(Json(1));
    EXPECT_EQ(terminations, 1);

    FakeWebView throwing;
    QuitCoordinator second { clock, loop };
    int secondTerminations = 0;
    second.requestQuit(&throwing, [&] { ++secondTerminations; });
    throwing.asyncCalls[0].completion(std::nullopt, "TypeError: App.saveNow is not a function");
    EXPECT_EQ(secondTerminations, 1);
    clock.advance(3s);
    EXPECT_EQ(secondTerminations, 1);
}

TEST_F(QuitRace, ASecondRequestJoinsTheFirstAndNoPageMeansAtOnce)
{
    quit.requestQuit(&page, [&] { ++terminations; });
    quit.requestQuit(&page, [&] { ++terminations; });
    EXPECT_EQ(page.asyncCalls.size(), 1u);
    EXPECT_TRUE(quit.quitting());
    clock.advance(2s);
    EXPECT_EQ(terminations, 1);

    QuitCoordinator withoutPage { clock, loop };
    int ended = 0;
    withoutPage.requestQuit(nullptr, [&] { ++ended; });
    EXPECT_EQ(ended, 1);
}

TEST_F(QuitRace, ACoordinatorGoneBeforeItsTimerEndsNothing)
{
    auto shortLived = std::make_unique<QuitCoordinator>(clock, loop);
    shortLived->requestQuit(&page, [&] { ++terminations; });
    shortLived.reset();
    clock.advance(3s);
    answerPage(Json(1));
    EXPECT_EQ(terminations, 0);
}

// Closing the main window or Ctrl+Q first asks the editor windows; a kept one stops the quit.
TEST_F(QuitRace, EditorWindowsAreAskedBeforeThePageSavesAndAKeptOneStopsTheQuit)
{
    std::vector<std::function<void(bool)>> editorRounds;
    QuitCoordinator withEditors { clock, loop, [&](std::function<void(bool)> done) { editorRounds.push_back(std::move(done)); } };
    withEditors.requestQuit(&page, [&] { ++terminations; });
    ASSERT_EQ(editorRounds.size(), 1u);
    EXPECT_TRUE(page.asyncCalls.empty()) << "the page saves only once the editors are closed";
    withEditors.requestQuit(&page, [&] { ++terminations; });
    EXPECT_EQ(editorRounds.size(), 1u) << "a second request joins the first";

    // The user keeps an editor: nothing ends, no timer waits, and the next quit asks again.
    editorRounds[0](false);
    EXPECT_FALSE(withEditors.quitting());
    EXPECT_TRUE(page.asyncCalls.empty());
    clock.advance(5s);
    EXPECT_EQ(terminations, 0);

    withEditors.requestQuit(&page, [&] { ++terminations; });
    ASSERT_EQ(editorRounds.size(), 2u);
    editorRounds[1](true);
    answerPage(Json(1));
    EXPECT_EQ(terminations, 1);

    // A question still open when the coordinator goes ends nothing later.
    auto shortLived = std::make_unique<QuitCoordinator>(clock, loop, [&](std::function<void(bool)> done) { editorRounds.push_back(std::move(done)); });
    shortLived->requestQuit(&page, [&] { ++terminations; });
    shortLived.reset();
    editorRounds.back()(true);
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(page.asyncCalls.size(), 1u);
}

// SIGTERM and the session's end: the page saves what is waiting within a second, then the
// printer stops and the program exits, whatever the page does; nobody is asked anything.
TEST_F(QuitRace, TerminationGivesThePageOneSecondThenStops)
{
    struct Case {
        const char* name;
        std::optional<std::chrono::milliseconds> answerAfter;
        std::string error;
        std::chrono::milliseconds stopsAfter;
    };
    const std::vector<Case> cases {
        { "a page that saves in 150 ms", 150ms, {}, 150ms },
        { "a page whose save fails", 20ms, "TypeError: App.saveNow is not a function", 20ms },
        { "a page that hangs", std::nullopt, {}, 1000ms },
        { "a page that answers too late", 1500ms, {}, 1000ms },
    };
    for (const auto& test : cases) {
        FakeWebView view;
        int editorRounds = 0;
        QuitCoordinator coordinator { clock, loop, [&](std::function<void(bool)>) { ++editorRounds; } };
        std::vector<std::chrono::milliseconds> stops;
        const auto start = clock.now();
        auto stop = [&] { stops.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(clock.now() - start)); };
        coordinator.terminate(&view, stop);
        coordinator.terminate(&view, stop);
        ASSERT_EQ(view.asyncCalls.size(), 1u) << test.name;
        EXPECT_EQ(view.asyncCalls[0].body, QuitCoordinator::saveScript) << test.name;
        EXPECT_TRUE(stops.empty()) << test.name << ": the page is asked first";
        if (test.answerAfter)
            clock.after(*test.answerAfter, [&] { view.asyncCalls[0].completion(test.error.empty() ? std::optional(Json(1)) : std::nullopt, test.error); });
        clock.advance(3s);
        EXPECT_EQ(stops, std::vector { test.stopsAfter }) << test.name;
        EXPECT_EQ(editorRounds, 0) << test.name << ": editor windows aren't asked";
    }

    // Without a page, at once; a termination during a quit still ends the program in a second.
    QuitCoordinator withoutPage { clock, loop };
    int stopped = 0;
    withoutPage.terminate(nullptr, [&] { ++stopped; });
    EXPECT_EQ(stopped, 1);

    QuitCoordinator keptEditor { clock, loop, [](std::function<void(bool)>) {} };
    keptEditor.requestQuit(&page, [&] { ++terminations; });
    keptEditor.terminate(&page, [&] { ++stopped; });
    clock.advance(1s);
    EXPECT_EQ(stopped, 2);
    EXPECT_EQ(terminations, 0);
}

TEST_F(QuitRace, FlushForUpdateWaitsForTheSaveOrTheLimit)
{
    // The page answers 300 ms into the wait.
    clock.after(300ms, [&] { answerPage(Json(1)); });
    quit.flushForUpdate(&page);
    EXPECT_EQ(loop.runs, 1);
    EXPECT_EQ(loop.lastWait, 300ms);

    FakeWebView hanging;
    quit.flushForUpdate(&hanging);
    EXPECT_EQ(loop.lastWait, QuitCoordinator::saveLimit);
    EXPECT_FALSE(quit.quitting()) << "a flush is not a quit";
}

}
}
