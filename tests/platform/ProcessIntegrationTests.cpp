// The GSubprocess runner with real programs.

#include "platform/ProcessRunner.h"

#include "MainLoop.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <optional>
#include <thread>

namespace quillpost {
namespace {

TEST(ProcessIntegration, KeepsBothOutputsApartWithTheExitStatusAndSaysWhyAProgramIsntThere)
{
    struct Case {
        std::vector<std::string> arguments;
        int exitStatus;
        std::string output;
        std::string errorOutput; // "?" for any text but none
    };
    const Case cases[] = {
        // Bytes that are no text become U+FFFD.
        { { "/bin/sh", "-c", "printf 'device for x: ipp://y\\n'; printf 'lpadmin: \\377 denied' >&2; exit 3" }, 3,
            "device for x: ipp://y\n", "lpadmin: \xEF\xBF\xBD denied" },
        // Arguments reach the program as they are: no shell reads them.
        { { "printf", "%s|", "a b", "$HOME;`x`" }, 0, "a b|$HOME;`x`|", "" },
        // A tool that reads its input finds it closed, never our terminal.
        { { "/bin/cat" }, 0, "", "" },
        { { "/usr/sbin/no-such-ippeveprinter" }, -1, "", "?" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.arguments.front());
        std::optional<ProcessRunner::Result> result;
        std::thread::id answeredOn;
        ProcessRunner::shared().run(test.arguments, [&](ProcessRunner::Result answer) {
            answeredOn = std::this_thread::get_id();
            result = std::move(answer);
        });
        ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
        EXPECT_EQ(answeredOn, std::this_thread::get_id()) << "the answer comes on the main thread";
        EXPECT_EQ(result->started, test.exitStatus != -1);
        EXPECT_EQ(result->exitStatus, test.exitStatus);
        EXPECT_EQ(result->output, test.output);
        if (test.errorOutput == "?")
            EXPECT_FALSE(result->errorOutput.empty());
        else
            EXPECT_EQ(result->errorOutput, test.errorOutput);
    }
}

TEST(ProcessIntegration, ALongLivedChildRunsUntilItIsTerminated)
{
    auto& runner = ProcessRunner::shared();
    std::string error;
    EXPECT_EQ(runner.start({ "/usr/sbin/no-such-ippeveprinter" }, error), nullptr);
    EXPECT_FALSE(error.empty());

    auto child = runner.start({ "/bin/sleep", "30" }, error);
    ASSERT_NE(child, nullptr) << error;
    EXPECT_TRUE(child->running());
    EXPECT_TRUE(runner.alive(child->pid()));
    child->terminate();
    EXPECT_TRUE(runUntil([&] { return !child->running(); }));
    EXPECT_FALSE(runner.alive(child->pid()));

    // One that isn't ours, found by its id: the way a server left over from a crash is ended.
    auto stray = runner.start({ "/bin/sleep", "30" }, error);
    ASSERT_NE(stray, nullptr);
    runner.terminate(stray->pid());
    EXPECT_TRUE(runUntil([&] { return !stray->running(); }));
    EXPECT_FALSE(runner.alive(0));
}

}
}
