// Drives the WebKitGTK web view through the WebView interface, in a real window under Xvfb.

#include "platform/WebView.h"
#include "platform/linux/WebKitWebViewHost.h"
#include "MainLoop.h"

#include <gtest/gtest.h>

#include <iterator>
#include <regex>
#include <gtk/gtk.h>

#include <fstream>
#include <unistd.h>

namespace quillpost {
namespace {

class WebViewIntegration : public testing::Test {
protected:
    static void SetUpTestSuite() { gtk_init(); }

    void SetUp() override
    {
        m_folder = std::filesystem::temp_directory_path() / ("quillpost-webview-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_folder);

        std::shared_ptr<ContentRuleList> rules;
        bool compiled = false;
        WebView::compileContentRules(m_folder / "rules", "block-tracker",
            R"([{"trigger":{"url-filter":"tracker\\.png"},"action":{"type":"block"}}])",
            [&](std::shared_ptr<ContentRuleList> list, std::string) {
                rules = std::move(list);
                compiled = true;
            });
        ASSERT_TRUE(runUntil([&] { return compiled; }));
        ASSERT_TRUE(rules) << "the content rules did not compile";

        WebViewConfiguration configuration;
        configuration.ephemeral = true;
        configuration.contentRules.push_back(rules);
        configuration.userScripts.push_back({ "window.__injected = 42;" });
        configuration.trustedOrigin = "qptest://site";
        configuration.messageHandlers.push_back({ "qp", [this](const Json& body, ScriptReplyHandler reply) {
                                                     m_messages.push_back(body);
                                                     if (body.is_object() && body.value("cmd", "") == "fail")
                                                         reply(std::nullopt, std::string("It failed."));
                                                     else
                                                         reply(std::string("{\"echo\":") + body.dump() + "}", std::nullopt);
                                                 } });
        configuration.schemeHandlers["qptest"] = [this](const SchemeRequest& request, SchemeResponder respond) {
            m_requests.push_back(request.uri);
            if (request.method == "POST") {
                m_bodies.push_back(request.body);
                SchemeResponse echo;
                echo.contentType = "application/octet-stream";
                echo.body = request.body;
                respond(std::move(echo), {});
                return;
            }
            if (request.uri.find("missing") != std::string::npos) {
                respond(std::nullopt, "Not here.");
                return;
            }
            SchemeResponse response;
            response.contentType = request.uri.ends_with(".png") ? "image/png" : "text/html";
            response.headers["X-Quillpost"] = "yes";
            response.body = "<html><body style='background:#fff'><h1 id='t'>Hello</h1>"
                            "<img src='qptest://site/tracker.png'><img src='qptest://site/allowed.png'></body></html>";
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
        std::optional<Json> result;
        std::string error;
        bool done = false;
        m_view->callAsyncFunction(body, arguments, [&](std::optional<Json> value, std::string message) {
            result = std::move(value);
            error = std::move(message);
            done = true;
        });
        EXPECT_TRUE(runUntil([&] { return done; }));
        if (!result)
            return Json { { "error", error } };
        return *result;
    }

    std::filesystem::path m_folder;
    std::shared_ptr<WebView> m_view;
    GtkWidget* m_window { nullptr };
    std::vector<Json> m_messages;
    std::vector<std::string> m_requests;
    std::vector<std::string> m_bodies;
};

TEST_F(WebViewIntegration, ServesSchemePagesRunsScriptsAndBlocksByContentRules)
{
    EXPECT_EQ(call("return document.getElementById('t').textContent + window.__injected;"), "Hello42");
    EXPECT_EQ(call("return await new Promise(r => setTimeout(() => r(a + b.length), 10));", { { "a", 2 }, { "b", Json::array({ 1, 2, 3 }) } }), 5);
    EXPECT_TRUE(call("throw new Error('boom');").contains("error"));

    std::optional<Json> evaluated;
    m_view->evaluateScript("6 * 7", [&](std::optional<Json> value, std::string) { evaluated = value; });
    ASSERT_TRUE(runUntil([&] { return evaluated.has_value(); }));
    EXPECT_EQ(*evaluated, 42);

    runUntil([&] { return std::find(m_requests.begin(), m_requests.end(), "qptest://site/allowed.png") != m_requests.end(); }, 5);
    EXPECT_NE(std::find(m_requests.begin(), m_requests.end(), "qptest://site/allowed.png"), m_requests.end());
    EXPECT_EQ(std::find(m_requests.begin(), m_requests.end(), "qptest://site/tracker.png"), m_requests.end());
    EXPECT_EQ(call("const r = await fetch('qptest://site/missing').then(() => 'loaded', () => 'refused'); return r;"), "refused");
}

// Every byte value, NULs among them, in a body larger than one read.
TEST_F(WebViewIntegration, SchemesTakePostedBodiesWholeAndServeBytesBack)
{
    std::string expected(300'000, '\0');
    for (size_t index = 0; index < expected.size(); ++index)
        expected[index] = static_cast<char>((index * 7919) >> 3);
    EXPECT_EQ(call("const sent = new Uint8Array(300000).map((_, i) => (i * 7919) >> 3);"
                   "const back = new Uint8Array(await (await fetch('qptest://site/upload', { method: 'POST', body: sent })).arrayBuffer());"
                   "return back.length === sent.length && back.every((value, i) => value === sent[i]);"),
        true);
    ASSERT_EQ(m_bodies.size(), 1u);
    EXPECT_EQ(m_bodies[0], expected);
}

TEST_F(WebViewIntegration, ScriptMessagesGetOneReplyOrOneRejection)
{
    auto reply = call("return await window.webkit.messageHandlers.qp.postMessage({ cmd: 'echo', args: '[\"é\", 1]', big: 'x'.repeat(100000) });");
    ASSERT_TRUE(reply.is_string()) << reply.dump();
    auto parsed = Json::parse(reply.get<std::string>());
    EXPECT_EQ(parsed["echo"]["cmd"], "echo");
    EXPECT_EQ(parsed["echo"]["args"], "[\"é\", 1]");
    EXPECT_EQ(parsed["echo"]["big"].get<std::string>().size(), 100000u);

    EXPECT_EQ(call("try { await window.webkit.messageHandlers.qp.postMessage({ cmd: 'fail' }); return 'resolved'; } catch (e) { return e.message; }"), "It failed.");
    EXPECT_EQ(call("return await window.webkit.messageHandlers.qp.postMessage('plain text');"), "{\"echo\":\"plain text\"}");
    EXPECT_EQ(m_messages.size(), 3u);
}

TEST_F(WebViewIntegration, PostedBodiesArriveAsThePageSentThem)
{
    auto echo = [&](const std::string& expression) {
        auto reply = call("return await window.webkit.messageHandlers.qp.postMessage(" + expression + ");");
        EXPECT_TRUE(reply.is_string()) << expression << " gave " << reply.dump();
        return reply.is_string() ? Json::parse(reply.get<std::string>())["echo"] : Json();
    };
    EXPECT_EQ(echo("{ cmd: 'clearBackupFolder\\u0000anything', args: '[\"a\\\\u0000b\"]' }"),
        (Json { { "cmd", std::string("clearBackupFolder\0anything", 26) }, { "args", "[\"a\\u0000b\"]" } }));
    EXPECT_EQ(echo("{ cmd: 'info\\uD800' }"), (Json { { "cmd", "info\xEF\xBF\xBD" } }));
    EXPECT_EQ(echo("{ cmd: 'save', args: JSON.stringify(['\\uD83D']) }"), (Json { { "cmd", "save" }, { "args", "[\"\\ud83d\"]" } }));
    // Raw lone surrogates and NULs in every member the page-API script sends, and members it never sends.
    EXPECT_EQ(echo("{ cmd: 'save', args: 'a\\uD800b\\u0000c', via: '\\uDC00' }"),
        (Json { { "cmd", "save" }, { "args", std::string("a\xEF\xBF\xBD" "b\0c", 7) }, { "via", "\xEF\xBF\xBD" } }));
    EXPECT_EQ(echo("{ cmd: 'save', args: '[]', extra: 1 }"), (Json { { "cmd", "save" }, { "args", "[]" }, { "extra", 1 } }));
    EXPECT_EQ(echo("{ cmd: 'save', args: 5 }"), (Json { { "cmd", "save" }, { "args", 5 } }));
    EXPECT_EQ(echo("Object.assign(Object.create({ cmd: 'clearBackupFolder' }), { args: '[]' })"), (Json { { "args", "[]" } }));
    EXPECT_EQ(echo("(() => { const o = { cmd: 'x' }; o.self = o; return o; })()"), Json());

    // Long texts take a shorter way in; they must arrive exactly as the short ones do.
    std::string longText;
    for (int i = 0; i < 20000; ++i)
        longText.append("\"é\\\n✓");
    EXPECT_EQ(echo("{ cmd: 'save', args: '\"é\\\\\\n✓'.repeat(20000), via: 'quillpost-bytes', n: [1, { b: null }] }"),
        (Json { { "cmd", "save" }, { "args", longText }, { "via", "quillpost-bytes" }, { "n", Json::array({ 1, Json { { "b", nullptr } } }) } }));
    EXPECT_EQ(echo("{ cmd: 'save', args: 'a'.repeat(70000) + '\\uD800' }"),
        (Json { { "cmd", "save" }, { "args", std::string(70000, 'a') + "\xEF\xBF\xBD" } }));
    EXPECT_EQ(echo("{ cmd: 'save', args: 'a'.repeat(70000) + '\\u0000z' }"),
        (Json { { "cmd", "save" }, { "args", std::string(70000, 'a') + std::string("\0z", 2) } }));
    EXPECT_EQ(echo("Object.assign(Object.create({ args: 'x'.repeat(70000) }), { cmd: 'save' })"), (Json { { "cmd", "save" } }));
}

TEST_F(WebViewIntegration, OnlyTheTrustedOriginGetsScriptsAndMessages)
{
    bool loaded = false;
    m_view->setOnLoadFinished([&] { loaded = true; });
    m_view->loadRequest("qptest://other/index.html");
    ASSERT_TRUE(runUntil([&] { return loaded; }));
    EXPECT_EQ(call("return window.__injected === undefined;"), true);
    EXPECT_EQ(call("try { await window.webkit.messageHandlers.qp.postMessage({ cmd: 'echo' }); return 'answered'; } catch (e) { return e.message; }"),
        "Only Quillpost's own page can use Quillpost.");
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(WebViewIntegration, APageWhoseProcessEndedComesBackOnReload)
{
    std::vector<std::string> reasons;
    m_view->setOnWebProcessTerminated([&](const std::string& reason) { reasons.push_back(reason); });
    m_view->terminateWebProcess();
    ASSERT_TRUE(runUntil([&] { return !reasons.empty(); }));
    EXPECT_EQ(reasons.front(), "The page's web process was ended on request.");

    bool loaded = false;
    m_view->setOnLoadFinished([&] { loaded = true; });
    m_view->reload();
    ASSERT_TRUE(runUntil([&] { return loaded; }));
    EXPECT_EQ(call("return document.getElementById('t').textContent + window.__injected;"), "Hello42");
}

TEST_F(WebViewIntegration, SnapshotsAndPrintsToPdf)
{
    std::optional<std::string> png;
    m_view->snapshot([&](std::optional<std::string> image, std::string) { png = image.value_or("none"); });
    ASSERT_TRUE(runUntil([&] { return png.has_value(); }));
    EXPECT_EQ(png->substr(0, 4), "\x89PNG");

    auto pdf = m_folder / "page.pdf";
    std::optional<bool> printed;
    m_view->print(WebView::PrintDestination::PdfFile, pdf, [&](bool ok, std::string) { printed = ok; });
    ASSERT_TRUE(runUntil([&] { return printed.has_value(); }, 60));
    EXPECT_TRUE(*printed);
    std::ifstream file(pdf, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(bytes.substr(0, 4), "%PDF");
    // US Letter, whatever the locale's paper would be.
    EXPECT_TRUE(std::regex_search(bytes, std::regex(R"(/MediaBox \[\s*0 0 612 792\s*\])")));
}


TEST_F(WebViewIntegration, PoliciesDecideWhereThePageGoesAndWhereItsDownloadsAreWritten)
{
    std::vector<NavigationAction> navigations;
    std::vector<std::string> newWindows;
    std::vector<std::string> suggestedNames;
    std::vector<DownloadOutcome> downloads;
    WebViewPolicies policies;
    policies.decideNavigation = [&](const NavigationAction& action) {
        navigations.push_back(action);
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
    call("window.__marker = 7; return true;");

    // A refused navigation leaves the page as it was; a link to a new window is handed to the
    // policy and no window is made.
    call("location.href = 'qptest://site/refused.html'; return true;");
    ASSERT_TRUE(runUntil([&] { return !navigations.empty(); }));
    EXPECT_EQ(navigations.back().url, "qptest://site/refused.html");
    call("const a = document.createElement('a'); a.href = 'qptest://site/popup.html'; a.target = '_blank';"
         "document.body.append(a); a.click(); return true;");
    runUntil([&] { return !newWindows.empty(); }, 5);
    EXPECT_EQ(call("return window.open('qptest://site/opened.html');"), nullptr) << "no second view is ever made";
    EXPECT_EQ(call("return window.__marker;"), 7);
    EXPECT_EQ(newWindows, std::vector<std::string> { "qptest://site/popup.html" });

    // A download is written where the policy says, or cancelled and written nowhere.
    const char* download = "const a = document.createElement('a'); a.href = URL.createObjectURL(new Blob(['kept bytes']));"
                           "a.download = name; document.body.append(a); a.click(); return true;";
    call(download, { { "name", "keep.txt" } });
    ASSERT_TRUE(runUntil([&] { return !downloads.empty(); }));
    EXPECT_EQ(downloads[0].result, DownloadOutcome::Result::Saved);
    EXPECT_EQ(downloads[0].destination, m_folder / "kept.txt");
    EXPECT_EQ(downloads[0].size, 10u);
    std::ifstream kept(m_folder / "kept.txt", std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}), "kept bytes");
    call(download, { { "name", "drop.txt" } });
    ASSERT_TRUE(runUntil([&] { return downloads.size() == 2; }));
    EXPECT_EQ(downloads[1].result, DownloadOutcome::Result::Cancelled);
    EXPECT_EQ(suggestedNames, (std::vector<std::string> { "keep.txt", "drop.txt" }));
    EXPECT_FALSE(std::filesystem::exists(m_folder / "drop.txt"));
    EXPECT_EQ(call("return window.__marker;"), 7);
}
}
}
