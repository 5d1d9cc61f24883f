// The GSubprocess runner with real programs: both outputs apart, exit codes, programs that don't
// exist, and a long-lived child that ends when asked.

#include "platform/ProcessRunner.h"

#include "MainLoop.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <optional>
#include <thread>

namespace quillpost {
namespace {

std::optional<ProcessRunner::Result> runToEnd(const std::vector<std::string>& arguments)
{
    std::optional<ProcessRunner::Result> result;
    std::thread::id answeredOn;
    ProcessRunner::shared().run(arguments, [&](ProcessRunner::Result answer) {
        answeredOn = std::this_thread::get_id();
        result = std::move(answer);
    });
    runUntil([&] { return result.has_value(); });
    EXPECT_EQ(answeredOn, std::this_thread::get_id()) << "the answer comes on the main thread";
    return result;
}

TEST(ProcessIntegration, KeepsBothOutputsApartWithTheExitStatus)
{
    auto result = runToEnd({ "/bin/sh", "-c", "printf 'device for x: ipp://y\\n'; printf 'lpadmin: \\377 denied' >&2; exit 3" });
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->started);
    EXPECT_EQ(result->exitStatus, 3);
    EXPECT_EQ(result->output, "device for x: ipp://y\n");
    EXPECT_EQ(result->errorOutput, "lpadmin: \xEF\xBF\xBD denied") << "bytes that are no text become U+FFFD";

    // Arguments reach the program as they are: no shell reads them.
    auto echoed = runToEnd({ "printf", "%s|", "a b", "$HOME;`x`" });
    ASSERT_TRUE(echoed);
    EXPECT_EQ(echoed->exitStatus, 0);
    EXPECT_EQ(echoed->output, "a b|$HOME;`x`|");

    // A tool that reads its input finds it closed, never our terminal.
    auto reader = runToEnd({ "/bin/cat" });
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->exitStatus, 0);
    EXPECT_EQ(reader->output, "");
}

TEST(ProcessIntegration, AProgramThatIsntThereSaysWhy)
{
    auto result = runToEnd({ "/usr/sbin/no-such-ippeveprinter" });
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->started);
    EXPECT_EQ(result->exitStatus, -1);
    EXPECT_FALSE(result->errorOutput.empty());

    std::string error;
    EXPECT_EQ(ProcessRunner::shared().start({ "/usr/sbin/no-such-ippeveprinter" }, error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(ProcessIntegration, ALongLivedChildRunsUntilItIsTerminated)
{
    auto& runner = ProcessRunner::shared();
    std::string error;
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
