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
    std::function<void()> end = [this] { ++terminations; };
};

// A quit (Ctrl+Q, the window closed) gives the page two seconds to save; SIGTERM and the session's
// end give it one and ask no editor window. Whichever comes first, the answer or the limit, ends it once.
TEST_F(QuitRace, ThePageSavesThenTheProgramEndsOnceWithinTheLimit)
{
    struct Case {
        const char* name;
        bool terminate;
        std::optional<std::chrono::milliseconds> answerAfter;
        std::string error;
        std::chrono::milliseconds endsAfter;
    };
    const Case cases[] = {
        { "a quit the page answers at once", false, 0ms, {}, 0ms },
        { "a quit whose save fails", false, 20ms, "TypeError: App.saveNow is not a function", 20ms },
        { "a quit the page hangs", false, std::nullopt, {}, 2000ms },
        { "a quit the page answers late", false, 3000ms, {}, 2000ms },
        { "a termination the page saves in 150 ms", true, 150ms, {}, 150ms },
        { "a termination the page hangs", true, std::nullopt, {}, 1000ms },
        { "a termination the page answers late", true, 1500ms, {}, 1000ms },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        FakeWebView view;
        int editorRounds = 0;
        QuitCoordinator coordinator { clock, loop, [&](std::function<void(bool)> done) {
                                         ++editorRounds;
                                         done(true);
                                     } };
        std::vector<std::chrono::milliseconds> ends;
        const auto start = clock.now();
        auto stop = [&] { ends.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(clock.now() - start)); };
        for (int twice = 0; twice < 2; ++twice)
            test.terminate ? coordinator.terminate(&view, stop) : coordinator.requestQuit(&view, stop);
        ASSERT_EQ(view.asyncCalls.size(), 1u) << "a second request joins the first";
        EXPECT_EQ(view.asyncCalls[0].body, QuitCoordinator::saveScript);
        EXPECT_TRUE(ends.empty()) << "the page is asked first";
        EXPECT_EQ(editorRounds, test.terminate ? 0 : 1);
        if (test.answerAfter)
            clock.after(*test.answerAfter, [&] { view.asyncCalls[0].completion(test.error.empty() ? std::optional(Json(1)) : std::nullopt, test.error); });
        clock.advance(5s);
        EXPECT_EQ(ends, std::vector { test.endsAfter });
        EXPECT_EQ(clock.pendingTimers(), 0u);
    }

    // Without a page, at once.
    quit.requestQuit(nullptr, end);
    QuitCoordinator another { clock, loop };
    another.terminate(nullptr, end);
    EXPECT_EQ(terminations, 2);
}

TEST_F(QuitRace, ACoordinatorGoneBeforeItsTimerOrAnswerEndsNothing)
{
    auto shortLived = std::make_unique<QuitCoordinator>(clock, loop);
    shortLived->requestQuit(&page, end);
    shortLived.reset();
    clock.advance(3s);
    page.asyncCalls[0].completion(Json(1), {});
    EXPECT_EQ(terminations, 0);
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
    EXPECT_EQ(terminations, 0);

    // A question still open when the coordinator goes ends nothing later.
    auto shortLived = std::make_unique<QuitCoordinator>(clock, loop, askEditors);
    shortLived->requestQuit(&page, end);
    shortLived.reset();
    editorRounds.back()(true);
    EXPECT_EQ(terminations, 0);
    EXPECT_EQ(page.asyncCalls.size(), 1u);
}

TEST_F(QuitRace, FlushForUpdateWaitsForTheSaveOrTheLimit)
{
    clock.after(300ms, [&] { page.asyncCalls[0].completion(Json(1), {}); });
    quit.flushForUpdate(&page);
    EXPECT_EQ(loop.lastWait, 300ms);

    FakeWebView hanging;
    quit.flushForUpdate(&hanging);
    EXPECT_EQ(loop.lastWait, QuitCoordinator::saveLimit);
    EXPECT_FALSE(quit.quitting()) << "a flush is not a quit";
}

}
}
