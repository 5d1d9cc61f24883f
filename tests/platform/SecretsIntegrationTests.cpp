#include "platform/Clipboard.h"
#include "platform/Fingerprint.h"

#include "MainLoop.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>

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

}
}
