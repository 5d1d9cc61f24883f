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
    EXPECT_TRUE(script.starts_with(prefix)) << script;
    EXPECT_TRUE(script.ends_with(")")) << script;
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

TEST(Links, WaitForThePageThenArriveInOrderExactlyOnce)
{
    std::vector<std::string> evaluated;
    LinkRouter router([&](const std::string& script) { evaluated.push_back(script); });

    router.open({ "quillpost://client/1", "https://example.com/", "QUILLPOST://File/ABC?x=1#Y", "mailto:a@b.c", "quillpostx://no" });
    router.open({ "QuillPost:client/3" });
    EXPECT_TRUE(evaluated.empty()) << "nothing reaches a page that hasn't loaded";
    EXPECT_EQ(router.pending(), (std::vector<std::string> { "quillpost://client/1", "QUILLPOST://File/ABC?x=1#Y", "QuillPost:client/3" }));

    router.pageLoaded();
    ASSERT_EQ(evaluated.size(), 3u);
    EXPECT_EQ(linkArgument(evaluated[0]), "quillpost://client/1");
    EXPECT_EQ(linkArgument(evaluated[1]), "QUILLPOST://File/ABC?x=1#Y") << "letter case and the rest unchanged";
    EXPECT_EQ(linkArgument(evaluated[2]), "QuillPost:client/3");
    EXPECT_TRUE(router.pending().empty());

    router.open({ "quillpost://client/4" });
    ASSERT_EQ(evaluated.size(), 4u) << "after the load a link goes straight through";
    router.pageLoaded();
    EXPECT_EQ(evaluated.size(), 4u) << "a reload does not repeat links";
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

TEST(Links, HostileTextReachesThePageAsTheSameStringNeverAsScript)
{
    std::vector<std::string> evaluated;
    LinkRouter router([&](const std::string& script) { evaluated.push_back(script); });
    router.pageLoaded();
    const std::string hostile = "quillpost://x/\");alert(1)//\\'</script>\xe2\x80\xa8\xe2\x80\xa9${1}";
    router.open({ hostile, "quillpost://bad/\xff\xfe" });
    ASSERT_EQ(evaluated.size(), 2u);
    EXPECT_EQ(linkArgument(evaluated[0]), hostile);
    EXPECT_EQ(linkArgument(evaluated[1]), "quillpost://bad/\xef\xbf\xbd\xef\xbf\xbd") << "invalid UTF-8 arrives as U+FFFD";

    EXPECT_EQ(hookArgument(PageHooks::menuCommand("go:\"x\\"), "__qpMenu"), "go:\"x\\");
    EXPECT_EQ(PageHooks::systemLock("a'b"), "window.dispatchEvent(new CustomEvent('qp-system-lock', { detail: \"a'b\" }))");
}

TEST(Notifications, ClicksRouteByIdentifier)
{
    EXPECT_EQ(PageHooks::notificationClick("printed:Form.pdf"), "location.hash = '#/pdf/formcopy'");
    EXPECT_EQ(PageHooks::notificationClick("printed:"), "location.hash = '#/pdf/formcopy'");
    EXPECT_EQ(hookArgument(PageHooks::notificationClick("17\"');x\\"), "__qpNotifyClick"), "17\"');x\\");
    EXPECT_EQ(hookArgument(PageHooks::notificationClick(""), "__qpNotifyClick"), "");

    auto named = PageHooks::printedNotification(Json { { "name", "IMM 5257.pdf" }, { "size", 10 } });
    EXPECT_EQ(named.id, "printed:IMM 5257.pdf");
    EXPECT_EQ(named.title, "Exact copy received 📥");
    EXPECT_EQ(named.body, "IMM 5257.pdf is in Quillpost. Click to save it to a client.");
    for (auto& unnamed : { Json::object(), Json { { "name", 5 } }, Json("x") }) {
        auto notification = PageHooks::printedNotification(unnamed);
        EXPECT_EQ(notification.id, "printed:");
        EXPECT_EQ(notification.body, "Your form is in Quillpost. Click to save it to a client.");
    }
}

TEST(Notifications, ShownOrRecordedAndClicksComeBack)
{
    FakeNotifications desktop;
    Notifier shown(desktop, Notifier::Mode::Show);
    std::vector<std::string> clicked;
    shown.onClick = [&](const std::string& id) { clicked.push_back(id); };
    shown.post("a", "Title", "Body");
    ASSERT_EQ(desktop.shown.size(), 1u);
    EXPECT_EQ(desktop.shown[0].title, "Title");
    EXPECT_FALSE(shown.recorded());
    desktop.click("a");
    EXPECT_EQ(clicked, std::vector<std::string> { "a" });
    shown.post("printed:\xff.pdf", "T", "\xff.pdf is in Quillpost.");
    EXPECT_EQ(desktop.shown.back().id, "printed:\xef\xbf\xbd.pdf") << "the desktop gets valid UTF-8";
    EXPECT_EQ(desktop.shown.back().body, "\xef\xbf\xbd.pdf is in Quillpost.");

    FakeNotifications quiet;
    Notifier recording(quiet, Notifier::Mode::Record);
    CommandHarness harness(true, [&](Bridge::Services& services) { services.notifier = &recording; });
    auto answer = harness.send("notify", Json::array({ "n1", 42, "Body" }));
    EXPECT_EQ(answer->result, "true");
    auto empty = harness.send("notify");
    EXPECT_EQ(empty->result, "true");
    EXPECT_TRUE(quiet.shown.empty()) << "a self-test run shows nothing";
    ASSERT_EQ(recording.recorded()->size(), 2u);
    EXPECT_EQ(recording.recorded()->at(0).id, "n1");
    EXPECT_EQ(recording.recorded()->at(0).title, "") << "a title that isn't a string reads as empty";
    EXPECT_EQ(recording.recorded()->at(1).id, "");
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
    CommandHarness normal(true, [&](Bridge::Services& services) { services.shell = &shell; });
    EXPECT_EQ(normal.send("simulateOpenURL", Json::array({ "quillpost://a" }))->error, "Unknown command simulateOpenURL");
    EXPECT_EQ(normal.send("simulateScreenSleep")->error, "Unknown command simulateScreenSleep");
    EXPECT_TRUE(shell.opened.empty());

    CommandHarness selfTest(true, [&](Bridge::Services& services) {
        services.shell = &shell;
        services.selfTest = true;
    });
    EXPECT_EQ(selfTest.send("simulateOpenURL", Json::array({ "quillpost://file/7" }))->result, "true");
    EXPECT_EQ(selfTest.send("simulateScreenSleep")->result, "true");
    EXPECT_EQ(shell.opened, std::vector<std::string> { "quillpost://file/7" });
    EXPECT_EQ(shell.sleeps, 1);
}

}
}
