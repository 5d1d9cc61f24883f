// The clipboard on the real display, and the keyring against the gnome-keyring that the test's
// session started (tests/e2e/with_keyring.sh).

#include "platform/Clipboard.h"
#include "platform/Keyring.h"

#include "MainLoop.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <libsecret/secret.h>

namespace quillpost {
namespace {

// The end-to-end run copies a concealed secret and sees it wiped; here the count notices content
// that another program put there, so a wipe leaves that alone.
TEST(SecretsIntegration, TheClipboardNoticesOtherContent)
{
    gtk_init();
    auto& clipboard = Clipboard::shared();
    clipboard.writeText("s3cret", { { "x-kde-passwordManagerHint", "secret" }, { "org.nspasteboard.ConcealedType", "" } });
    EXPECT_TRUE(clipboard.hasType("x-kde-passwordManagerHint"));
    const auto count = clipboard.changeCount();
    EXPECT_EQ(clipboard.changeCount(), count);
    gdk_clipboard_set_text(gdk_display_get_clipboard(gdk_display_get_default()), "someone else's");
    EXPECT_NE(clipboard.changeCount(), count);
    EXPECT_FALSE(clipboard.hasType("org.nspasteboard.ConcealedType"));
}

// A locked keyring says so; only an unlocked one can say an item is not there (the device key
// would otherwise be made anew over the old one).
TEST(SecretsIntegration, ALockedKeyringIsLockedNotEmpty)
{
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

}
}
