#include "app/LinkRouter.h"
#include "app/PageHooks.h"
#include "bridge/ShellCommands.h"
#include "doubles/CommandHarness.h"
#include "doubles/FakeNotifications.h"
#include "updates/Notifier.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

// The argument a hook script passes, read back the way the page's JavaScript would read it.
Json hookArgument(const std::string& script, const std::string& hook)
{
    std::string prefix = "window." + hook + " && window." + hook + "(";
    EXPECT_TRUE(script.starts_with(prefix) && script.ends_with(")")) << script;
    return Json::parse(script.substr(prefix.size(), script.size() - prefix.size() - 1));
}

// The link a delivery passes, from inside the wait for the page's load.
Json linkArgument(const std::string& script)
{
    const std::string start = "window.__qpLink && window.__qpLink(";
    const std::string end = ") }; if (document.readyState === 'complete') run(); else window.addEventListener('load', run, { once: true }); })()";
    auto from = script.find(start);
    auto to = script.rfind(end);
    EXPECT_TRUE(from != std::string::npos && to != std::string::npos && to + end.size() == script.size()) << script;
    from += start.size();
    return Json::parse(script.substr(from, to - from));
}

// Order, letter case, hostile text and other schemes are checked on the real program; here, what
// only the router itself shows.
TEST(Links, WaitForThePageThenArriveOnceAsValidText)
{
    std::vector<Json> delivered;
    LinkRouter router([&](const std::string& script) { delivered.push_back(linkArgument(script)); });
    router.open({ "quillpost://client/1", "https://example.com/", "quillpost://bad/\xff\xfe" });
    EXPECT_TRUE(delivered.empty()) << "nothing reaches a page that hasn't loaded";
    router.pageLoaded();
    EXPECT_EQ(delivered, (std::vector<Json> { "quillpost://client/1", "quillpost://bad/\xef\xbf\xbd\xef\xbf\xbd" }));
    EXPECT_TRUE(router.pending().empty());
    router.open({ "quillpost://client/4" });
    EXPECT_EQ(delivered.size(), 3u) << "after the load a link goes straight through";
    router.pageLoaded();
    EXPECT_EQ(delivered.size(), 3u) << "a reload does not repeat links";
}

TEST(Links, OnlyTextsThatFormAQuillpostUrlAreLinks)
{
    for (const char* link : { "quillpost:", "quillpost://client/1", "QUILLPOST:x", "qUiLlPoSt://a%20b" })
        EXPECT_TRUE(LinkRouter::isQuillpostLink(link)) << link;
    for (const char* text : { "", "quillpost", ":quillpost", "quillpost //x", "quillpost://a b", "quillpost://a\nb", " quillpost://a",
             "1quillpost://a", "quill post:a", "quillpost\x7f:", "https://quillpost/", "/quillpost:a", "quillpos:a" })
        EXPECT_FALSE(LinkRouter::isQuillpostLink(text)) << text;
    EXPECT_EQ(LinkRouter::scheme("web+Mail.x-y:1"), "web+Mail.x-y");
    EXPECT_FALSE(LinkRouter::isQuillpostLink("quillpost://" + std::string(LinkRouter::maximumLength, 'a')));
}

TEST(Notifications, HooksCarryTheirTextAsAStringAndPrintedOnesOpenTheFormCopy)
{
    EXPECT_EQ(hookArgument(PageHooks::menuCommand("go:\"x\\"), "__qpMenu"), "go:\"x\\");
    EXPECT_EQ(hookArgument(PageHooks::notificationClick("17\"');x\\"), "__qpNotifyClick"), "17\"');x\\");
    EXPECT_EQ(hookArgument(PageHooks::notificationClick(""), "__qpNotifyClick"), "");
    EXPECT_EQ(PageHooks::notificationClick("printed:Form.pdf"), "location.hash = '#/pdf/formcopy'");
    EXPECT_EQ(PageHooks::notificationClick("printed:"), "location.hash = '#/pdf/formcopy'");

    EXPECT_EQ(PageHooks::printedNotification(Json { { "name", "IMM 5257.pdf" }, { "size", 10 } }).id, "printed:IMM 5257.pdf");
    for (auto& unnamed : { Json::object(), Json { { "name", 5 } }, Json("x") })
        EXPECT_EQ(PageHooks::printedNotification(unnamed).id, "printed:") << unnamed;
}

TEST(Notifications, ShownOrRecordedAndClicksComeBack)
{
    FakeNotifications desktop;
    Notifier shown(desktop, Notifier::Mode::Show);
    std::vector<std::string> clicked;
    shown.onClick = [&](const std::string& id) { clicked.push_back(id); };
    shown.post("printed:\xff.pdf", "T", "\xff.pdf is in Quillpost.");
    ASSERT_EQ(desktop.shown.size(), 1u);
    EXPECT_FALSE(shown.recorded());
    EXPECT_EQ(desktop.shown[0].id, "printed:\xef\xbf\xbd.pdf") << "the desktop gets valid UTF-8";
    EXPECT_EQ(desktop.shown[0].body, "\xef\xbf\xbd.pdf is in Quillpost.");
    desktop.onClick("a");
    EXPECT_EQ(clicked, std::vector<std::string> { "a" });

    FakeNotifications quiet;
    Notifier recording(quiet, Notifier::Mode::Record);
    CommandHarness harness(true, [&](Bridge::Services& services) { services.notifier = &recording; });
    EXPECT_EQ(harness.send("notify", Json::array({ "n1", 42, "Body" }))->result, "true");
    EXPECT_TRUE(quiet.shown.empty()) << "a self-test run shows nothing";
    ASSERT_EQ(recording.recorded()->size(), 1u);
    EXPECT_EQ(recording.recorded()->at(0).id, "n1");
    EXPECT_EQ(recording.recorded()->at(0).title, "") << "a title that isn't a string reads as empty";
    EXPECT_TRUE(CommandHarness().send("notify")->error) << "a window without notifications";
}

struct RecordingShell final : ShellEvents {
    void openUrls(const std::vector<std::string>& urls) override { opened.insert(opened.end(), urls.begin(), urls.end()); }
    void screensDidSleep() override { ++sleeps; }
    std::vector<std::string> opened;
    int sleeps { 0 };
};

TEST(ShellCommands, SimulatedDesktopEventsExistOnlyInASelfTestRun)
{
    RecordingShell shell;
    for (bool selfTest : { false, true }) {
        CommandHarness harness(true, [&](Bridge::Services& services) {
            services.shell = &shell;
            services.selfTest = selfTest;
        });
        auto opened = harness.send("simulateOpenURL", Json::array({ "quillpost://file/7" }));
        auto slept = harness.send("simulateScreenSleep");
        EXPECT_EQ(opened->result.has_value(), selfTest);
        EXPECT_EQ(slept->result.has_value(), selfTest);
    }
    EXPECT_EQ(shell.opened, std::vector<std::string> { "quillpost://file/7" });
    EXPECT_EQ(shell.sleeps, 1);
}

}
}
