#include "platform/Clipboard.h"
#include "platform/Fingerprint.h"
#include "platform/Keyring.h"
#include "secrets/KeyringDeviceKeyStore.h"

#include "MainLoop.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <libsecret/secret.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace quillpost {
namespace {

// With no system bus there is no fprintd: the reader is unavailable with a reason, and a check
// fails on the main loop instead of waiting for ever.
TEST(SecretsIntegration, WithoutTheFingerprintServiceTheReaderIsUnavailable)
{
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quillpost-test-system-bus", 1);
    auto availability = Fingerprint::shared().availability();
    EXPECT_FALSE(availability.available);
    EXPECT_NE(availability.reason.find("fprintd"), std::string::npos) << availability.reason;
    EXPECT_FALSE(Fingerprint::shared().domainState());

    std::optional<Fingerprint::Outcome> first;
    std::optional<Fingerprint::Outcome> second;
    auto check = Fingerprint::shared().verify("test", [&](Fingerprint::Result result) { first = result.outcome; });
    Fingerprint::shared().verify("test", [&](Fingerprint::Result result) { second = result.outcome; });
    ASSERT_TRUE(runUntil([&] { return first && second; }, 10));
    EXPECT_EQ(*first, Fingerprint::Outcome::Failed);
    EXPECT_EQ(*second, Fingerprint::Outcome::Failed);
    check->cancel();
    runUntil([] { return false; }, 0);
    EXPECT_EQ(*first, Fingerprint::Outcome::Failed) << "a check that ended stays ended";
}

TEST(SecretsIntegration, TheClipboardCarriesTheMarkersAndNoticesOtherContent)
{
    gtk_init();
    auto& clipboard = Clipboard::shared();
    clipboard.writeText("s3cret", { { "x-kde-passwordManagerHint", "secret" }, { "org.nspasteboard.ConcealedType", "" } });
    EXPECT_TRUE(clipboard.hasType("org.nspasteboard.ConcealedType"));
    EXPECT_TRUE(clipboard.hasType("x-kde-passwordManagerHint"));
    const auto count = clipboard.changeCount();
    EXPECT_EQ(clipboard.changeCount(), count);

    std::optional<std::string> text;
    clipboard.readText([&](std::string value) { text = std::move(value); });
    ASSERT_TRUE(runUntil([&] { return text.has_value(); }, 10));
    EXPECT_EQ(*text, "s3cret");

    // Content put there by other code (as another program would) changes the count.
    gdk_clipboard_set_text(gdk_display_get_clipboard(gdk_display_get_default()), "someone else's");
    EXPECT_NE(clipboard.changeCount(), count);
    EXPECT_FALSE(clipboard.hasType("org.nspasteboard.ConcealedType"));

    clipboard.clear();
    text.reset();
    clipboard.readText([&](std::string value) { text = std::move(value); });
    ASSERT_TRUE(runUntil([&] { return text.has_value(); }, 10));
    EXPECT_EQ(*text, "");
}

// gnome-keyring of the test's own on this session bus, unlocked, its keyrings in a temporary folder.
class TestKeyring {
public:
    TestKeyring()
    {
        GError* error = nullptr;
        gchar* folder = g_dir_make_tmp("quillpost-keyring-XXXXXX", &error);
        if (!folder) {
            g_error_free(error);
            return;
        }
        m_folder = folder;
        g_free(folder);
        GSubprocessLauncher* launcher = g_subprocess_launcher_new(static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE));
        g_subprocess_launcher_setenv(launcher, "XDG_DATA_HOME", m_folder.c_str(), TRUE);
        m_daemon = g_subprocess_launcher_spawn(launcher, &error, "gnome-keyring-daemon", "--foreground", "--replace", "--unlock", "--components=secrets", nullptr);
        g_object_unref(launcher);
        if (!m_daemon) {
            g_error_free(error);
            return;
        }
        GOutputStream* input = g_subprocess_get_stdin_pipe(m_daemon);
        g_output_stream_write_all(input, "quillpost-test", 14, nullptr, nullptr, nullptr);
        g_output_stream_close(input, nullptr, nullptr);
        // Earlier tests may have started a keyring through D-Bus activation (the web view's network
        // process asks for one); ours replaces it, and is ready once it owns the name.
        const std::string ours = g_subprocess_get_identifier(m_daemon);
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        m_running = bus && runUntil([bus, &ours] {
            GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                g_variant_new("(s)", "org.freedesktop.secrets"), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
            guint32 owner = 0;
            if (reply) {
                g_variant_get(reply, "(u)", &owner);
                g_variant_unref(reply);
            }
            return std::to_string(owner) == ours;
        }, 15);
        if (bus)
            g_object_unref(bus);
    }
    ~TestKeyring()
    {
        if (m_daemon) {
            g_subprocess_send_signal(m_daemon, SIGTERM);
            g_subprocess_wait(m_daemon, nullptr, nullptr);
            g_object_unref(m_daemon);
        }
        if (!m_folder.empty())
            std::filesystem::remove_all(m_folder);
    }

    bool running() const { return m_running; }

    // Locks the default collection, as the desktop does when the session is locked.
    bool lockDefaultCollection()
    {
        GError* error = nullptr;
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
        if (!service) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
            return false;
        }
        SecretCollection* collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
        bool locked = false;
        if (collection) {
            GList* objects = g_list_append(nullptr, collection);
            locked = secret_service_lock_sync(service, objects, nullptr, nullptr, &error) > 0;
            g_list_free(objects);
            g_object_unref(collection);
        }
        if (error) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
        }
        g_object_unref(service);
        return locked;
    }

private:
    std::string m_folder;
    GSubprocess* m_daemon { nullptr };
    bool m_running { false };
};

// A locked keyring says so; only an unlocked one can say an item is not there. The device key's
// probe then reports the lock instead of "no key yet", which would make a new key over the old one.
TEST(SecretsIntegration, ALockedKeyringIsLockedNotEmpty)
{
    gchar* daemon = g_find_program_in_path("gnome-keyring-daemon");
    if (!daemon)
        GTEST_SKIP() << "gnome-keyring-daemon is not installed";
    g_free(daemon);
    TestKeyring testKeyring;
    ASSERT_TRUE(testKeyring.running());

    using Status = Keyring::Lookup::Status;
    auto& keyring = Keyring::shared();
    ASSERT_TRUE(keyring.write("Quillpost Integration", "present", "kept text"));
    auto present = keyring.lookup("Quillpost Integration", "present", Keyring::Interaction::Never);
    EXPECT_EQ(present.status, Status::Found);
    EXPECT_EQ(present.value, "kept text");
    EXPECT_EQ(keyring.lookup("Quillpost Integration", "absent", Keyring::Interaction::Never).status, Status::NotFound);
    KeyringDeviceKeyStore deviceKeys(keyring);
    EXPECT_EQ(deviceKeys.deviceKey(DeviceKeyStore::Access::Probe).state, DeviceKeyStore::Lookup::State::Missing);

    ASSERT_TRUE(testKeyring.lockDefaultCollection());
    EXPECT_EQ(keyring.lookup("Quillpost Integration", "present", Keyring::Interaction::Never).status, Status::Locked);
    EXPECT_EQ(keyring.lookup("Quillpost Integration", "absent", Keyring::Interaction::Never).status, Status::Locked);
    auto probe = deviceKeys.deviceKey(DeviceKeyStore::Access::Probe);
    EXPECT_EQ(probe.state, DeviceKeyStore::Lookup::State::Unusable);
    EXPECT_NE(probe.reason.find("locked"), std::string::npos) << probe.reason;
}

}
}
