// The WebKitGTK web view through the WebView interface, in a real window under Xvfb.

#include "platform/WebView.h"
#include "platform/linux/WebKitWebViewHost.h"
#include "MainLoop.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <unistd.h>

namespace quillpost {
namespace {

std::string contents(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

class WebViewIntegration : public testing::Test {
protected:
    static void SetUpTestSuite() { gtk_init(); }

    void SetUp() override
    {
        m_folder = std::filesystem::temp_directory_path() / ("quillpost-webview-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_folder);

        WebViewConfiguration configuration;
        configuration.ephemeral = true;
        configuration.userScripts.push_back({ "window.__injected = 42;" });
        configuration.trustedOrigin = "qptest://site";
        configuration.messageHandlers.push_back({ "qp", [](const Json& body, ScriptReplyHandler reply) {
                                                     reply(std::string("{\"echo\":") + body.dump() + "}", std::nullopt);
                                                 } });
        configuration.schemeHandlers["qptest"] = [](const SchemeRequest& request, SchemeResponder respond) {
            if (request.uri.find("missing") != std::string::npos)
                return respond(std::nullopt, "Not here.");
            SchemeResponse response;
            response.contentType = "text/html";
            response.body = "<html><body><h1 id='t'>Hello</h1></body></html>";
            respond(std::move(response), {});
        };
        m_view = WebView::create(std::move(configuration));

        m_window = gtk_window_new();
        gtk_window_set_default_size(GTK_WINDOW(m_window), 640, 480);
        gtk_window_set_child(GTK_WINDOW(m_window), static_cast<WebKitWebViewHost&>(*m_view).widget());
        gtk_window_present(GTK_WINDOW(m_window));
        bool loaded = false;
        m_view->setOnLoadFinished([&] { loaded = true; });
        m_view->loadRequest("qptest://site/index.html");
        ASSERT_TRUE(runUntil([&] { return loaded; }));
        m_view->setOnLoadFinished(nullptr);
    }

    void TearDown() override
    {
        gtk_window_destroy(GTK_WINDOW(m_window));
        m_view.reset();
        std::filesystem::remove_all(m_folder);
    }

    Json call(const std::string& body, const Json& arguments = Json::object())
    {
        Awaited<Json> answer;
        m_view->callAsyncFunction(body, arguments, [&](std::optional<Json> value, std::string message) {
            answer.value = value ? std::move(*value) : Json { { "error", message } };
        });
        EXPECT_TRUE(answer.arrived());
        return answer.value.value_or(Json());
    }

    std::filesystem::path m_folder;
    std::shared_ptr<WebView> m_view;
    GtkWidget* m_window { nullptr };
};

TEST_F(WebViewIntegration, ServesPagesRunsScriptsTakesPostsAsSentPrintsAndKeepsToThePolicies)
{
    EXPECT_EQ(call("return document.getElementById('t').textContent + window.__injected;"), "Hello42");
    EXPECT_EQ(call("return await new Promise(r => setTimeout(() => r(a + b.length), 10));", { { "a", 2 }, { "b", Json::array({ 1, 2, 3 }) } }), 5);
    EXPECT_TRUE(call("throw new Error('boom');").contains("error"));
    EXPECT_EQ(call("return await fetch('qptest://site/missing').then(() => 'loaded', () => 'refused');"), "refused");

    // Long posted texts take a shorter way in than short ones, and must arrive exactly as the short
    // ones do. (The end-to-end runs check that other documents never reach the handler.)
    std::string longText;
    for (int i = 0; i < 20000; ++i)
        longText.append("\"é\\\n✓");
    const std::string as70000(70000, 'a');
    const std::pair<const char*, Json> cases[] = {
        { "{ cmd: 'save', args: 'a\\uD800b\\u0000c', via: '\\uDC00', extra: 1 }",
            { { "cmd", "save" }, { "args", std::string("a\xEF\xBF\xBD" "b\0c", 7) }, { "via", "\xEF\xBF\xBD" }, { "extra", 1 } } },
        { "{ cmd: 'save', args: 5 }", { { "cmd", "save" }, { "args", 5 } } },
        { "(() => { const o = { cmd: 'x' }; o.self = o; return o; })()", Json() },
        { "{ cmd: 'save', args: '\"é\\\\\\n✓'.repeat(20000), via: 'quillpost-bytes', n: [1, { b: null }] }",
            { { "cmd", "save" }, { "args", longText }, { "via", "quillpost-bytes" }, { "n", Json::array({ 1, Json { { "b", nullptr } } }) } } },
        { "{ cmd: 'save', args: 'a'.repeat(70000) + '\\uD800' }", { { "cmd", "save" }, { "args", as70000 + "\xEF\xBF\xBD" } } },
        { "{ cmd: 'save', args: 'a'.repeat(70000) + '\\u0000z' }", { { "cmd", "save" }, { "args", as70000 + std::string("\0z", 2) } } },
        { "Object.assign(Object.create({ args: 'x'.repeat(70000) }), { cmd: 'save' })", { { "cmd", "save" } } },
    };
    for (const auto& [expression, expected] : cases) {
        SCOPED_TRACE(expression);
        auto reply = call(std::string("return await window.webkit.messageHandlers.qp.postMessage(") + expression + ");");
        ASSERT_TRUE(reply.is_string()) << reply.dump();
        EXPECT_EQ(Json::parse(reply.get<std::string>())["echo"], expected);
    }

    // Printed to a US Letter PDF, whatever the locale's paper would be.
    std::optional<bool> printed;
    m_view->print(WebView::PrintDestination::PdfFile, m_folder / "page.pdf", [&](bool ok, std::string) { printed = ok; });
    ASSERT_TRUE(runUntil([&] { return printed.has_value(); }, 60));
    EXPECT_TRUE(*printed);
    const auto pdf = contents(m_folder / "page.pdf");
    EXPECT_EQ(pdf.substr(0, 4), "%PDF");
    EXPECT_TRUE(std::regex_search(pdf, std::regex(R"(/MediaBox \[\s*0 0 612 792\s*\])")));

    // The policies decide where the page goes and where its downloads are written.
    std::vector<std::string> navigations;
    std::vector<std::string> newWindows;
    std::vector<std::string> suggestedNames;
    std::vector<DownloadOutcome> downloads;
    WebViewPolicies policies;
    policies.decideNavigation = [&](const NavigationAction& action) {
        navigations.push_back(action.url);
        if (action.url.starts_with("blob:"))
            return NavigationDecision::Download;
        return action.url.find("refused") == std::string::npos ? NavigationDecision::Allow : NavigationDecision::Cancel;
    };
    policies.onNewWindowRequest = [&](const NavigationAction& action) { newWindows.push_back(action.url); };
    policies.chooseDownloadDestination = [&](const std::string& name, std::function<void(std::optional<std::filesystem::path>)> choose) {
        suggestedNames.push_back(name);
        choose(name == "keep.txt" ? std::optional(m_folder / "kept.txt") : std::nullopt);
    };
    policies.downloadEnded = [&](const DownloadOutcome& outcome) { downloads.push_back(outcome); };
    m_view->setPolicies(std::move(policies));
    // A refused navigation leaves the page as it was; a new window's link goes to the policy and no window is made.
    call("window.__marker = 7; location.href = 'qptest://site/refused.html'; return true;");
    ASSERT_TRUE(runUntil([&] { return !navigations.empty(); }));
    EXPECT_EQ(navigations.back(), "qptest://site/refused.html");
    call("const a = document.createElement('a'); a.href = 'qptest://site/popup.html'; a.target = '_blank';"
         "document.body.append(a); a.click(); return true;");
    runUntil([&] { return !newWindows.empty(); }, 5);
    EXPECT_EQ(call("return window.open('qptest://site/opened.html');"), nullptr) << "no second view is ever made";
    EXPECT_EQ(newWindows, std::vector<std::string> { "qptest://site/popup.html" });

    // A download is written where the policy says, or cancelled and written nowhere.
    const char* download = "const a = document.createElement('a'); a.href = URL.createObjectURL(new Blob(['kept bytes']));"
                           "a.download = name; document.body.append(a); a.click(); return true;";
    call(download, { { "name", "keep.txt" } });
    ASSERT_TRUE(runUntil([&] { return !downloads.empty(); }));
    EXPECT_EQ(downloads[0].result, DownloadOutcome::Result::Saved);
    EXPECT_EQ(downloads[0].destination, m_folder / "kept.txt");
    EXPECT_EQ(downloads[0].size, 10u);
    EXPECT_EQ(contents(m_folder / "kept.txt"), "kept bytes");
    call(download, { { "name", "drop.txt" } });
    ASSERT_TRUE(runUntil([&] { return downloads.size() == 2; }));
    EXPECT_EQ(downloads[1].result, DownloadOutcome::Result::Cancelled);
    EXPECT_EQ(suggestedNames, (std::vector<std::string> { "keep.txt", "drop.txt" }));
    EXPECT_FALSE(std::filesystem::exists(m_folder / "drop.txt"));
    EXPECT_EQ(call("return window.__marker;"), 7);
}

}
}
