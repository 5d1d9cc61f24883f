// The queues, the nested wait, the menus and the process runner with real programs on the real
// main loop, and the lock watch on a real session bus.

#include "MainLoop.h"
#include "app/MenuTable.h"
#include "platform/BackgroundQueue.h"
#include "platform/MainQueue.h"
#include "platform/MenuBar.h"
#include "platform/NestedLoop.h"
#include "platform/ProcessRunner.h"
#include "platform/SystemLockWatch.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <optional>
#include <thread>
#include <vector>

namespace quillpost {
namespace {

using namespace std::chrono_literals;

TEST(MainLoopIntegration, QueuesKeepOrderAndThreadsAndNestedWaitsEndWhenDoneOrAtTheLimit)
{
    auto& queue = MainQueue::shared();
    std::vector<int> fired;
    queue.after(30ms, [&] { fired.push_back(2); });
    auto cancelled = queue.after(10ms, [&] { fired.push_back(99); });
    queue.after(0ms, [&] { fired.push_back(1); });
    queue.cancel(cancelled);
    ASSERT_TRUE(runUntil([&] { return fired.size() == 2; }));
    EXPECT_EQ(fired, (std::vector<int> { 1, 2 }));
    // Cancelling a timer that has fired, or one that never existed, is harmless.
    queue.cancel(cancelled);
    queue.cancel(123456);

    const auto mainThread = std::this_thread::get_id();
    std::vector<int> order;
    std::atomic<bool> offMain { true };
    std::thread::id reportedOn;
    for (int task = 0; task < 50; ++task) {
        BackgroundQueue::shared().async([&, task] {
            offMain = offMain && std::this_thread::get_id() != mainThread;
            order.push_back(task);
            if (task == 49)
                queue.post([&] { reportedOn = std::this_thread::get_id(); });
        });
    }
    ASSERT_TRUE(runUntil([&] { return reportedOn == mainThread; }));
    EXPECT_TRUE(offMain);
    std::vector<int> inOrder(50);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(order, inOrder);

    // The nested wait serves the main loop until done, or until the limit.
    bool done = false;
    g_timeout_add(100, [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
    }, &done);
    auto start = g_get_monotonic_time();
    NestedLoop::shared().runUntil([&] { return done; }, 5000ms);
    EXPECT_TRUE(done);
    EXPECT_LT(g_get_monotonic_time() - start, 1000 * 1000);

    start = g_get_monotonic_time();
    NestedLoop::shared().runUntil([] { return false; }, 300ms);
    const auto waited = (g_get_monotonic_time() - start) / 1000;
    EXPECT_GE(waited, 290);
    EXPECT_LT(waited, 1500);
}

void emit(GDBusConnection* bus, const char* interface, GVariant* parameters)
{
    g_autoptr(GError) error = nullptr;
    ASSERT_TRUE(g_dbus_connection_emit_signal(bus, nullptr, "/org/freedesktop/ScreenSaver", interface, "ActiveChanged", parameters, &error))
        << (error ? error->message : "");
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

TEST(SystemLockWatchIntegration, AScreenSaverStartingIsReportedAndOddSignalsAreNot)
{
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_TRUE(bus) << "the platform tests run inside dbus-run-session";
    std::vector<SystemLockWatch::Event> events;
    SystemLockWatch::shared().start([&](SystemLockWatch::Event event) { events.push_back(event); });
    // The watch connects to the buses asynchronously; give it the main loop for a moment.
    runUntil([] { return false; }, 1);

    emit(bus, "org.freedesktop.ScreenSaver", g_variant_new("(b)", FALSE));
    emit(bus, "org.freedesktop.ScreenSaver", g_variant_new("(s)", "true"));
    emit(bus, "org.gnome.ScreenSaver", g_variant_new("(bb)", TRUE, TRUE));
    emit(bus, "org.freedesktop.ScreenSaver", nullptr);
    emit(bus, "org.freedesktop.ScreenSaver", g_variant_new("(b)", TRUE));
    emit(bus, "org.gnome.ScreenSaver", g_variant_new("(b)", TRUE));
    EXPECT_TRUE(runUntil([&] { return events.size() >= 2; }, 10));
    runUntil([] { return false; }, 1);
    EXPECT_EQ(events, (std::vector<SystemLockWatch::Event> { SystemLockWatch::Event::ScreenSaverStarted, SystemLockWatch::Event::ScreenSaverStarted }));
}

TEST(MenuBarIntegration, KeysAreTheApplicationsAndItsActionsReachTheDelegate)
{
    g_autoptr(GtkApplication) application = gtk_application_new("org.quillpost.MenuTest", G_APPLICATION_NON_UNIQUE);
    g_application_set_default(G_APPLICATION(application));
    ASSERT_TRUE(g_application_register(G_APPLICATION(application), nullptr, nullptr));
    std::vector<std::string> commands;
    std::vector<std::string> actions;
    MenuBar::shared().install(mainMenu(), [&](const std::string& command) { commands.push_back(command); },
        [&](const std::string& action) { actions.push_back(action); });

    auto keysOf = [&](const char* action) {
        g_auto(GStrv) keys = gtk_application_get_accels_for_action(application, action);
        return keys && keys[0] ? std::string(keys[0]) : std::string();
    };
    EXPECT_EQ(keysOf("app.menu-command('newClient')"), "<Control>n");
    EXPECT_EQ(keysOf("app.quit"), "<Control>q");
    EXPECT_EQ(keysOf("app.copy"), "") << "the focused field keeps Ctrl+C";

    // As the menu bar reaches them, over the application's actions (the shell's end-to-end run
    // sends a menu command the same way).
    g_action_group_activate_action(G_ACTION_GROUP(application), "quit", nullptr);
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(actions, std::vector<std::string> { "quit" });
    EXPECT_TRUE(G_IS_MENU_MODEL(gtk_application_get_menubar(application)));
    g_application_set_default(nullptr);
}


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
