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
