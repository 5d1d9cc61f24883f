// The helper-program runner and the freedesktop Trash, for real.

#include "platform/ProcessRunner.h"
#include "platform/Workspace.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

std::optional<ProcessRunner::Result> runToEnd(const std::vector<std::string>& arguments)
{
    std::optional<ProcessRunner::Result> result;
    const auto mainThread = std::this_thread::get_id();
    bool onMainThread = false;
    ProcessRunner::shared().run(arguments, [&](ProcessRunner::Result finished) {
        onMainThread = std::this_thread::get_id() == mainThread;
        result = std::move(finished);
    });
    const auto deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!result && g_get_monotonic_time() < deadline)
        g_main_context_iteration(nullptr, FALSE);
    EXPECT_TRUE(onMainThread);
    return result;
}

TEST(ProcessRunnerIntegration, RunsWithoutAShellAndReportsHowTheProgramEnded)
{
    auto echoed = runToEnd({ "printf", "%s|", "a b", "$HOME;`x`" });
    ASSERT_TRUE(echoed);
    EXPECT_TRUE(echoed->started);
    EXPECT_EQ(echoed->exitStatus, 0);
    EXPECT_EQ(echoed->output, "a b|$HOME;`x`|");

    auto failed = runToEnd({ "sh", "-c", "echo oops >&2; exit 3" });
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->exitStatus, 3);
    EXPECT_EQ(failed->errorOutput, "oops\n");

    auto missing = runToEnd({ "quillpost-no-such-program" });
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->started);
    EXPECT_FALSE(missing->errorOutput.empty());
}

TEST(WorkspaceIntegration, TrashMovesTheFileIntoTheTrashOfXdgDataHome)
{
    // GLib reads XDG_DATA_HOME once, so the test binary is given a temporary one by its runner;
    // without it the test would touch the user's own Trash and is skipped.
    const char* dataHome = std::getenv("QUILLPOST_TEST_TRASH_HOME");
    if (!dataHome)
        GTEST_SKIP() << "needs QUILLPOST_TEST_TRASH_HOME";
    const fs::path home(dataHome);
    fs::create_directories(home / "docs");
    const fs::path document = home / "docs" / "letter.pdf";
    std::ofstream(document) << "letter";

    ASSERT_TRUE(Workspace::shared().moveToTrash(document));
    EXPECT_FALSE(fs::exists(document));
    EXPECT_TRUE(fs::exists(home / "Trash" / "files" / "letter.pdf"));
    EXPECT_FALSE(Workspace::shared().moveToTrash(home / "docs" / "missing.pdf"));
}

}
}
