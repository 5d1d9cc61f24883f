// The queues, the nested wait, the menus and the process runner with real programs on the real
// main loop, the lock watch on a real session bus, the clipboard on the real display and the
// keyring against the gnome-keyring that the test's session started (tests/e2e/with_keyring.sh).

#include "MainLoop.h"
#include "app/MenuTable.h"
#include "platform/BackgroundQueue.h"
#include "platform/Clipboard.h"
#include "platform/Keyring.h"
#include "platform/MainQueue.h"
#include "platform/MenuBar.h"
#include "platform/NestedLoop.h"
#include "platform/ProcessRunner.h"
#include "platform/SystemLockWatch.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <libsecret/secret.h>

#include <algorithm>
#include <atomic>
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
    EXPECT_TRUE(order.size() == 50 && std::ranges::is_sorted(order)) << "one at a time, in order";

    // The nested wait serves the main loop until done, or until the limit.
    bool done = false;
    queue.after(100ms, [&] { done = true; });
    auto start = g_get_monotonic_time();
    NestedLoop::shared().runUntil([&] { return done; }, 5000ms);
    EXPECT_TRUE(done);
    EXPECT_LT(g_get_monotonic_time() - start, G_USEC_PER_SEC);
    start = g_get_monotonic_time();
    NestedLoop::shared().runUntil([] { return false; }, 300ms);
    const auto waited = (g_get_monotonic_time() - start) / 1000;
    EXPECT_GE(waited, 290);
    EXPECT_LT(waited, 1500);
}

void emit(GDBusConnection* bus, const char* interface, GVariant* parameters)
{
    g_autoptr(GError) error = nullptr;
    ASSERT_TRUE(g_dbus_connection_emit_signal(bus, nullptr, "/org/freedesktop/ScreenSaver", interface, "ActiveChanged",
        parameters, &error)) << (error ? error->message : "");
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
    EXPECT_EQ(events, std::vector(2, SystemLockWatch::Event::ScreenSaverStarted));
}

TEST(DesktopIntegration, MenuKeysAndActionsClipboardOwnersAndALockedKeyring)
{
    gtk_init();
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

    // The end-to-end run copies a concealed secret and sees it wiped; here the count notices
    // content that another program put there, so a wipe leaves that alone.
    auto& clipboard = Clipboard::shared();
    clipboard.writeText("s3cret", { { "x-kde-passwordManagerHint", "secret" }, { "org.nspasteboard.ConcealedType", "" } });
    EXPECT_TRUE(clipboard.hasType("x-kde-passwordManagerHint"));
    const auto count = clipboard.changeCount();
    EXPECT_EQ(clipboard.changeCount(), count);
    gdk_clipboard_set_text(gdk_display_get_clipboard(gdk_display_get_default()), "someone else's");
    EXPECT_NE(clipboard.changeCount(), count);
    EXPECT_FALSE(clipboard.hasType("org.nspasteboard.ConcealedType"));

    // A locked keyring says so; only an unlocked one can say an item is not there (the device key
    // would otherwise be made anew over the old one).
    using Status = Keyring::Lookup::Status;
    auto& keyring = Keyring::shared();
    auto lookup = [&](const char* name) { return keyring.lookup("Quillpost Integration", name, Keyring::Interaction::Never); };
    ASSERT_TRUE(keyring.write("Quillpost Integration", "present", "kept text"));
    EXPECT_EQ(lookup("present").value, "kept text");
    EXPECT_EQ(lookup("absent").status, Status::NotFound);
    // Locked as the desktop locks it with the session.
    g_autoptr(SecretService) service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    g_autoptr(SecretCollection) collection = service
        ? secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, nullptr)
        : nullptr;
    ASSERT_TRUE(collection);
    GList objects { collection, nullptr, nullptr };
    ASSERT_GT(secret_service_lock_sync(service, &objects, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(lookup("present").status, Status::Locked);
    EXPECT_EQ(lookup("absent").status, Status::Locked);
}

TEST(ProcessIntegration, KeepsBothOutputsApartWithTheExitStatusAndEndsWhatItStarted)
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
    auto& runner = ProcessRunner::shared();
    for (const auto& test : cases) {
        SCOPED_TRACE(test.arguments.front());
        Awaited<ProcessRunner::Result> result;
        std::thread::id answeredOn;
        runner.run(test.arguments, [&](ProcessRunner::Result answer) {
            answeredOn = std::this_thread::get_id();
            result.value = std::move(answer);
        });
        ASSERT_TRUE(result.arrived());
        EXPECT_EQ(answeredOn, std::this_thread::get_id()) << "the answer comes on the main thread";
        EXPECT_EQ(result->started, test.exitStatus != -1);
        EXPECT_EQ(result->exitStatus, test.exitStatus);
        EXPECT_EQ(result->output, test.output);
        EXPECT_EQ(result->errorOutput.empty(), test.errorOutput.empty());
        EXPECT_TRUE(test.errorOutput == "?" || result->errorOutput == test.errorOutput) << result->errorOutput;
    }

    // A long-lived child runs until it is ended: our own, or one found by its id (the way a server
    // left over from a crash is ended).
    std::string error;
    EXPECT_EQ(runner.start({ "/usr/sbin/no-such-ippeveprinter" }, error), nullptr);
    EXPECT_FALSE(error.empty());
    for (bool byId : { false, true }) {
        auto child = runner.start({ "/bin/sleep", "30" }, error);
        ASSERT_NE(child, nullptr) << error;
        EXPECT_TRUE(child->running());
        EXPECT_TRUE(runner.alive(child->pid()));
        if (byId)
            runner.terminate(child->pid());
        else
            child->terminate();
        EXPECT_TRUE(runUntil([&] { return !child->running(); }));
        EXPECT_FALSE(runner.alive(child->pid()));
    }
    EXPECT_FALSE(runner.alive(0));
}

}
}
