// The real HTTP client (libcurl) against a server on the loopback interface (loopback_http.py).

#include "platform/HttpClient.h"
#include "MainLoop.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using Outcome = HttpResult::Outcome;
using std::chrono::seconds;

class HttpIntegration : public testing::Test {
protected:
    static void SetUpTestSuite() { s_server = new StandIn("loopback_http.py"); }
    static void TearDownTestSuite() { delete s_server; }
    void SetUp() override { ASSERT_FALSE(s_server->ready.empty()) << "the loopback server did not start"; }

    static HttpRequest request(const std::string& path, const char* method = "GET")
    {
        HttpRequest request;
        request.url = "http://127.0.0.1:" + s_server->ready + path;
        request.method = method;
        return request;
    }

    static HttpResult send(HttpRequest request)
    {
        Awaited<HttpResult> result;
        HttpClient::shared().send(std::move(request), result.collect());
        EXPECT_TRUE(result.arrived());
        return result.value.value_or(HttpResult {});
    }

    static inline StandIn* s_server { nullptr };
};

// The trickles send 200 bytes every 0.3 s for 3.6 s in all; the stalled one stops after 0.9 s.
TEST_F(HttpIntegration, CapsAndTimeOutsEndABodyAtTheRightPoint)
{
    struct Case {
        const char* path;
        size_t cap;
        int idle;
        int overall;
        Outcome outcome;
        size_t size;
        int atLeast; // seconds
        int below;
    };
    const Case cases[] = {
        { "/bytes/2000000", 2'000'000, 20, 3600, Outcome::Answered, 2'000'000, 0, 20 },
        { "/bytes/2000001", 2'000'000, 20, 3600, Outcome::TooLarge, 0, 0, 20 },
        { "/endless", 1'000'000, 20, 3600, Outcome::TooLarge, 0, 0, 20 },
        { "/silent", 0, 1, 3600, Outcome::Failed, 0, 1, 5 },
        // The time-out is an idle time, not a total; the overall cap ends a transfer that keeps moving.
        { "/trickle/12", 0, 2, 3600, Outcome::Answered, 2600, 3, 20 },
        { "/trickle/3/stall", 0, 2, 3600, Outcome::Failed, 0, 2, 6 },
        { "/trickle/12", 0, 1, 2, Outcome::Failed, 0, 2, 3 },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.path);
        HttpRequest get = request(test.path);
        get.maxBodyBytes = test.cap;
        get.timeout = seconds(test.idle);
        get.overallLimit = seconds(test.overall);
        int ticks = 0;
        const guint ticker = g_timeout_add(20, [](gpointer count) -> gboolean {
            ++*static_cast<int*>(count);
            return G_SOURCE_CONTINUE;
        }, &ticks);
        const auto started = std::chrono::steady_clock::now();
        auto result = send(get);
        const auto took = std::chrono::steady_clock::now() - started;
        g_source_remove(ticker);
        EXPECT_EQ(result.outcome, test.outcome) << result.error;
        EXPECT_EQ(result.body.size(), test.size);
        EXPECT_EQ(result.error.find("timed out") != std::string::npos, test.outcome == Outcome::Failed) << result.error;
        EXPECT_GE(took, seconds(test.atLeast) - std::chrono::milliseconds(100)) << "curl's timers may end a bit early";
        EXPECT_LT(took, seconds(test.below));
        EXPECT_GE(ticks, test.atLeast * 20) << "the main loop ran while the request waited";
    }

    // A cancelled request ends long before its time-out.
    Awaited<HttpResult> cancelled;
    auto task = HttpClient::shared().send(request("/silent"), cancelled.collect());
    task->cancel();
    ASSERT_TRUE(cancelled.arrived(5));
    EXPECT_EQ(cancelled->outcome, Outcome::Cancelled);
}

TEST_F(HttpIntegration, RedirectsHeadersAndBodiesAsRequested)
{
    HttpRequest unfollowed = request("/moved");
    unfollowed.followRedirects = false;
    auto moved = send(unfollowed);
    EXPECT_EQ(moved.status, 302);
    EXPECT_EQ(moved.body, "see there");
    auto followed = send(request("/moved"));
    EXPECT_EQ(followed.status, 200);
    EXPECT_TRUE(followed.body.starts_with("GET /there HTTP/1.")) << followed.body;

    // The server echoes the request: its line, its headers, its body. (The end-to-end run checks
    // that the relay's key header arrives and that no cookie is ever sent.)
    HttpRequest post = request("/api/r", "POST");
    post.body = std::string("\0binary", 7);
    post.headers = { { "content-type", "application/json" } };
    const std::string echo = send(post).body;
    EXPECT_TRUE(echo.ends_with("\n\n" + post.body)) << echo;
    EXPECT_NE(echo.find("\ncontent-type: application/json\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("\nUser-Agent: Quillpost"), std::string::npos) << echo;
    const std::string removed = send(request("/api/r/abcdefghijkl", "DELETE")).body;
    EXPECT_TRUE(removed.starts_with("DELETE /api/r/abcdefghijkl HTTP/1.")) << removed;
}

}
}
