// The real HTTP client (libcurl) against servers on the loopback interface.

#include "platform/HttpClient.h"
#include "LoopbackHttpServer.h"
#include "MainLoop.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using Answer = LoopbackHttpServer::Answer;

std::optional<HttpResult> send(HttpRequest request, int seconds = 30)
{
    std::optional<HttpResult> result;
    HttpClient::shared().send(std::move(request), [&](HttpResult answer) { result = std::move(answer); });
    runUntil([&] { return result.has_value(); }, seconds);
    return result;
}

HttpRequest get(const std::string& url, size_t cap = 0)
{
    HttpRequest request;
    request.url = url;
    request.maxBodyBytes = cap;
    return request;
}

TEST(HttpIntegration, TheCapHoldsExactlyAndStopsAnEndlessBodyEarly)
{
    LoopbackHttpServer server([](const LoopbackHttpServer::Request& request) {
        if (request.head.starts_with("GET /endless"))
            return Answer { Answer::Kind::Endless, {} };
        const size_t size = request.head.starts_with("GET /over") ? 2'000'001 : 2'000'000;
        return LoopbackHttpServer::respond(200, std::string(size, 'f'));
    });

    auto exact = send(get(server.url("/exact"), 2'000'000));
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->outcome, HttpResult::Outcome::Answered);
    EXPECT_EQ(exact->body.size(), 2'000'000u);

    auto over = send(get(server.url("/over"), 2'000'000));
    ASSERT_TRUE(over);
    EXPECT_EQ(over->outcome, HttpResult::Outcome::TooLarge);
    EXPECT_TRUE(over->body.empty());

    auto endless = send(get(server.url("/endless"), 1'000'000));
    ASSERT_TRUE(endless) << "an endless body must end at the cap, not at the time-out";
    EXPECT_EQ(endless->outcome, HttpResult::Outcome::TooLarge);
}

TEST(HttpIntegration, ASilentServerTimesOutWhileTheMainLoopKeepsRunning)
{
    LoopbackHttpServer server([](const LoopbackHttpServer::Request&) { return Answer { Answer::Kind::Silent, {} }; });
    HttpRequest request = get(server.url("/api/me"));
    request.timeout = std::chrono::seconds(1);

    int ticks = 0;
    const guint ticker = g_timeout_add(20, [](gpointer count) -> gboolean {
        ++*static_cast<int*>(count);
        return G_SOURCE_CONTINUE;
    }, &ticks);
    auto result = send(request, 10);
    g_source_remove(ticker);

    ASSERT_TRUE(result);
    EXPECT_EQ(result->outcome, HttpResult::Outcome::Failed);
    EXPECT_NE(result->error.find("timed out"), std::string::npos) << result->error;
    EXPECT_GT(ticks, 20) << "the main loop ran while the request waited";

    // A cancelled request ends long before its time-out.
    request.timeout = std::chrono::seconds(20);
    std::optional<HttpResult> cancelled;
    auto task = HttpClient::shared().send(request, [&](HttpResult answer) { cancelled = std::move(answer); });
    task->cancel();
    ASSERT_TRUE(runUntil([&] { return cancelled.has_value(); }, 5));
    EXPECT_EQ(cancelled->outcome, HttpResult::Outcome::Cancelled);
}

TEST(HttpIntegration, TheTimeOutIsAnIdleTimeNotATotal)
{
    // 3.6 s of body, 200 bytes every 0.3 s, against a 2 s time-out: the steady one finishes; the
    // one that stops after its first pieces fails about two seconds later.
    LoopbackHttpServer server([](const LoopbackHttpServer::Request& request) {
        const bool stalls = request.head.starts_with("GET /stalls");
        Answer answer;
        answer.kind = Answer::Kind::Trickle;
        answer.response = "HTTP/1.1 200 OK\r\nContent-Length: 2600\r\nConnection: close\r\n\r\n";
        answer.response.append(200, 'a');
        answer.pieces.resize(stalls ? 3 : 12);
        for (auto& piece : answer.pieces)
            piece.resize(200, 'b');
        answer.gap = std::chrono::milliseconds(300);
        answer.stall = stalls;
        return answer;
    });

    HttpRequest steady = get(server.url("/steady"));
    steady.timeout = std::chrono::seconds(2);
    const auto started = std::chrono::steady_clock::now();
    auto finished = send(steady, 20);
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->outcome, HttpResult::Outcome::Answered) << finished->error;
    EXPECT_EQ(finished->body.size(), 2600u);
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3)) << "the body took longer than the time-out";

    HttpRequest stalled = get(server.url("/stalls"));
    stalled.timeout = std::chrono::seconds(2);
    const auto stalledAt = std::chrono::steady_clock::now();
    auto failed = send(stalled, 20);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->outcome, HttpResult::Outcome::Failed);
    EXPECT_NE(failed->error.find("timed out"), std::string::npos) << failed->error;
    EXPECT_TRUE(failed->body.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - stalledAt, std::chrono::seconds(6)) << "a stall ends at the idle time, not the overall cap";

    // The overall cap still ends a transfer that keeps moving.
    HttpRequest capped = get(server.url("/steady"));
    capped.timeout = std::chrono::seconds(1);
    capped.overallLimit = std::chrono::seconds(2);
    auto cut = send(capped, 20);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->outcome, HttpResult::Outcome::Failed);
}

TEST(HttpIntegration, RedirectsHeadersAndBodiesAsRequested)
{
    LoopbackHttpServer server([](const LoopbackHttpServer::Request& request) {
        if (request.head.starts_with("GET /moved"))
            return LoopbackHttpServer::respond(302, "see there", "Location: /there\r\n");
        return LoopbackHttpServer::respond(200, "here:" + request.body);
    });

    HttpRequest unfollowed = get(server.url("/moved"));
    unfollowed.followRedirects = false;
    auto moved = send(unfollowed);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->status, 302);
    EXPECT_EQ(moved->body, "see there");

    auto followed = send(get(server.url("/moved")));
    ASSERT_TRUE(followed);
    EXPECT_EQ(followed->status, 200);

    HttpRequest post = get(server.url("/api/r"));
    post.method = "POST";
    post.body = std::string("\0binary", 7);
    post.headers = { { "X-Admin", "yes" }, { "content-type", "application/json" } };
    auto posted = send(post);
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->body, "here:" + post.body);

    HttpRequest removal = get(server.url("/api/r/abcdefghijkl"));
    removal.method = "DELETE";
    ASSERT_TRUE(send(removal));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5u);
    const std::string& head = requests[3].head;
    EXPECT_NE(head.find("\r\nX-Admin: yes"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\ncontent-type: application/json"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nUser-Agent: Quillpost"), std::string::npos) << head;
    EXPECT_EQ(head.find("Cookie"), std::string::npos) << head;
    EXPECT_TRUE(requests[4].head.starts_with("DELETE /api/r/abcdefghijkl HTTP/1.1")) << requests[4].head;
}

}
}
