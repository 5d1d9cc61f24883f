// The clipboard on the real display, and the keyring against a real gnome-keyring.

#include "platform/Clipboard.h"
#include "platform/Keyring.h"
#include "secrets/KeyringDeviceKeyStore.h"

#include "MainLoop.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <libsecret/secret.h>

#include <csignal>
#include <filesystem>
#include <unistd.h>

namespace quillpost {
namespace {

TEST(SecretsIntegration, TheClipboardCarriesTheMarkersAndNoticesOtherContent)
{
    gtk_init();
    auto& clipboard = Clipboard::shared();
    auto read = [&] {
        std::optional<std::string> text;
        clipboard.readText([&](std::string value) { text = std::move(value); });
        EXPECT_TRUE(runUntil([&] { return text.has_value(); }, 10));
        return text.value_or("(nothing)");
    };
    clipboard.writeText("s3cret", { { "x-kde-passwordManagerHint", "secret" }, { "org.nspasteboard.ConcealedType", "" } });
    EXPECT_TRUE(clipboard.hasType("org.nspasteboard.ConcealedType"));
    EXPECT_TRUE(clipboard.hasType("x-kde-passwordManagerHint"));
    const auto count = clipboard.changeCount();
    EXPECT_EQ(clipboard.changeCount(), count);
    EXPECT_EQ(read(), "s3cret");

    // Content put there by other code (as another program would) changes the count.
    gdk_clipboard_set_text(gdk_display_get_clipboard(gdk_display_get_default()), "someone else's");
    EXPECT_NE(clipboard.changeCount(), count);
    EXPECT_FALSE(clipboard.hasType("org.nspasteboard.ConcealedType"));
    clipboard.clear();
    EXPECT_EQ(read(), "");
}

// gnome-keyring of the test's own on this session bus, unlocked, its keyrings in a temporary folder.
class TestKeyring {
public:
    TestKeyring()
    {
        std::filesystem::create_directories(m_folder);
        g_autoptr(GSubprocessLauncher) launcher = g_subprocess_launcher_new(
            static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE));
        g_subprocess_launcher_setenv(launcher, "XDG_DATA_HOME", m_folder.c_str(), TRUE);
        m_daemon = g_subprocess_launcher_spawn(launcher, nullptr, "gnome-keyring-daemon", "--foreground", "--replace", "--unlock",
            "--components=secrets", nullptr);
        if (!m_daemon)
            return;
        // The password to unlock with comes on its input.
        GOutputStream* input = g_subprocess_get_stdin_pipe(m_daemon);
        g_output_stream_write_all(input, "quillpost-test", 14, nullptr, nullptr, nullptr);
        g_output_stream_close(input, nullptr, nullptr);
        // Earlier tests may have started a keyring through D-Bus activation (the web view's network
        // process asks for one); ours replaces it, and is ready once it owns the name.
        const std::string ours = g_subprocess_get_identifier(m_daemon);
        g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        m_running = bus && runUntil([&] {
            g_autoptr(GVariant) reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "GetConnectionUnixProcessID", g_variant_new("(s)", "org.freedesktop.secrets"), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
                nullptr, nullptr);
            guint32 owner = 0;
            if (reply)
                g_variant_get(reply, "(u)", &owner);
            return std::to_string(owner) == ours;
        }, 15);
    }

    ~TestKeyring()
    {
        if (m_daemon) {
            g_subprocess_send_signal(m_daemon, SIGTERM);
            g_subprocess_wait(m_daemon, nullptr, nullptr);
            g_object_unref(m_daemon);
        }
        std::filesystem::remove_all(m_folder);
    }

    bool running() const { return m_running; }

    // Locks the default collection, as the desktop does when the session is locked.
    static bool lockDefaultCollection()
    {
        g_autoptr(SecretService) service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
        g_autoptr(SecretCollection) collection = service
            ? secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, nullptr)
            : nullptr;
        GList objects { collection, nullptr, nullptr };
        return collection && secret_service_lock_sync(service, &objects, nullptr, nullptr, nullptr) > 0;
    }

private:
    std::filesystem::path m_folder { std::filesystem::temp_directory_path() / ("quillpost-keyring-" + std::to_string(::getpid())) };
    GSubprocess* m_daemon { nullptr };
    bool m_running { false };
};

// A locked keyring says so; only an unlocked one can say an item is not there. The device key's
// probe then reports the lock instead of "no key yet", which would make a new key over the old one.
TEST(SecretsIntegration, ALockedKeyringIsLockedNotEmpty)
{
    g_autofree char* daemon = g_find_program_in_path("gnome-keyring-daemon");
    if (!daemon)
        GTEST_SKIP() << "gnome-keyring-daemon is not installed";
    TestKeyring testKeyring;
    ASSERT_TRUE(testKeyring.running());

    using Status = Keyring::Lookup::Status;
    auto& keyring = Keyring::shared();
    auto lookup = [&](const char* name) { return keyring.lookup("Quillpost Integration", name, Keyring::Interaction::Never); };
    ASSERT_TRUE(keyring.write("Quillpost Integration", "present", "kept text"));
    EXPECT_EQ(lookup("present").status, Status::Found);
    EXPECT_EQ(lookup("present").value, "kept text");
    EXPECT_EQ(lookup("absent").status, Status::NotFound);
    KeyringDeviceKeyStore deviceKeys(keyring);
    EXPECT_EQ(deviceKeys.deviceKey(DeviceKeyStore::Access::Probe).state, DeviceKeyStore::Lookup::State::Missing);

    ASSERT_TRUE(TestKeyring::lockDefaultCollection());
    EXPECT_EQ(lookup("present").status, Status::Locked);
    EXPECT_EQ(lookup("absent").status, Status::Locked);
    auto probe = deviceKeys.deviceKey(DeviceKeyStore::Access::Probe);
    EXPECT_EQ(probe.state, DeviceKeyStore::Lookup::State::Unusable);
    EXPECT_NE(probe.reason.find("locked"), std::string::npos) << probe.reason;
}

}
}
