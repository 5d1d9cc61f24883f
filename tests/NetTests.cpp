#include "common/Base64.h"
#include "doubles/FakeHttpClient.h"
#include "doubles/TestSigner.h"
#include "net/Deployment.h"
#include "net/IrccFeed.h"
#include "net/Relay.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <memory>

namespace quillpost {
namespace {

class IrccFeedTest : public testing::Test {
protected:
    IrccFeed::Source source() const { return { "https://feed.test/feed.json", "https://feed.test/feed.json.sig", m_signer.publicKey() }; }

    std::optional<Json> fetch(HttpResult feed, HttpResult signature)
    {
        std::optional<Json> answer;
        m_http.sent.clear();
        IrccFeed::fetch(m_http, source(), [&](Json reply) { answer = std::move(reply); });
        EXPECT_EQ(m_http.sent.size(), 2u) << "both downloads start at once";
        m_http.answer(source().feedURL, std::move(feed));
        if (!answer)
            m_http.answer(source().signatureURL, std::move(signature));
        return answer;
    }

    TestSigner m_signer;
    FakeHttpClient m_http;
};

// A feed named in the environment is a test's switch: outside a self-test run it is ignored.
TEST(IrccFeedSource, TakesATestFeedOnlyInASelfTestRun)
{
    const char* selfTest = std::getenv("QUILLPOST_SELFTEST");
    const std::string wasSelfTest = selfTest ? selfTest : "";
    ::setenv("QUILLPOST_TEST_FEED_URL", "https://feed.test/other.json", 1);
    ::unsetenv("QUILLPOST_SELFTEST");
    EXPECT_EQ(IrccFeed::source().feedURL, Deployment::feedURL);
    ::setenv("QUILLPOST_SELFTEST", "1", 1);
    EXPECT_EQ(IrccFeed::source().feedURL, "https://feed.test/other.json");
    ::unsetenv("QUILLPOST_TEST_FEED_URL");
    if (selfTest)
        ::setenv("QUILLPOST_SELFTEST", wasSelfTest.c_str(), 1);
    else
        ::unsetenv("QUILLPOST_SELFTEST");
}

TEST_F(IrccFeedTest, HandsOverOnlyAFeedWhoseSignatureVerifiesOrSaysWhyNot)
{
    const std::string feed = "{\"items\":[{\"title\":\"Biometrics \xff\"}]}";
    const std::string signature = m_signer.sign(feed);

    auto verified = fetch(FakeHttpClient::ok(feed), FakeHttpClient::ok(" \r\n" + signature + "\r\n"));
    ASSERT_TRUE(verified);
    EXPECT_EQ(*verified, (Json { { "ok", true }, { "feed", "{\"items\":[{\"title\":\"Biometrics \xEF\xBF\xBD\"}]}" } }));
    EXPECT_EQ(m_http.sent[0].request.maxBodyBytes, IrccFeed::maximumBytes);

    const Json refused { { "ok", false }, { "error", "The IRCC update failed its signature check and was ignored." } };
    EXPECT_EQ(fetch(FakeHttpClient::ok(feed + "\n"), FakeHttpClient::ok(signature)), refused) << "a byte more is another feed";
    EXPECT_EQ(fetch(FakeHttpClient::ok(feed), FakeHttpClient::ok("<html><body>Not found</body></html>")), refused);
    EXPECT_EQ(fetch(FakeHttpClient::ok(feed), FakeHttpClient::ok(signature.substr(0, 40) + " " + signature.substr(40))), refused);
    EXPECT_EQ(fetch(FakeHttpClient::ok(feed), FakeHttpClient::ok(TestSigner().sign(feed))), refused) << "someone else's key";

    // A failed download names the feed's error first.
    const auto unreachable = [](const std::string& description) {
        return Json { { "ok", false }, { "error", "Couldn't reach the IRCC update service (" + description + ")." } };
    };
    EXPECT_EQ(fetch(FakeHttpClient::ok("Not Found", 404), FakeHttpClient::failed("Could not resolve host")), unreachable("the server answered 404"));
    EXPECT_TRUE(m_http.sent[1].task->cancelled) << "the signature is no longer needed";
    EXPECT_EQ(fetch(FakeHttpClient::ok("{}"), FakeHttpClient::tooLarge()), unreachable("the update was unexpectedly large"));
    EXPECT_EQ(fetch(FakeHttpClient::failed("Connection timed out after 20000 milliseconds"), FakeHttpClient::ok("x")),
        unreachable("Connection timed out after 20000 milliseconds"));

    // The feed may arrive after its signature; the answer waits for both.
    std::optional<Json> answer;
    m_http.sent.clear();
    IrccFeed::fetch(m_http, source(), [&](Json reply) { answer = std::move(reply); });
    m_http.answer(source().signatureURL, FakeHttpClient::ok(m_signer.sign("[]")));
    EXPECT_FALSE(answer);
    m_http.answer(source().feedURL, FakeHttpClient::ok("[]"));
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["ok"], true);
}

class RelayTest : public testing::Test {
protected:
    struct Outcome {
        std::optional<Json> reply;
        std::optional<std::string> failure;
    };

    std::shared_ptr<Outcome> call(const Json& args)
    {
        auto outcome = std::make_shared<Outcome>();
        Relay::call(m_http, args, true, [outcome](Json reply) { outcome->reply = std::move(reply); },
            [outcome](std::string message) { outcome->failure = std::move(message); });
        return outcome;
    }

    FakeHttpClient m_http;
};

TEST_F(RelayTest, AllowsOnlyRelayPathsOnThePlatformsSubdomainsSendsOnlyWhatItMayAndAnswersOrSaysWhatWentWrong)
{
    const std::string relay = "https://practice.workers.dev";
    const std::string id12 = "abcdefghij_-";
    for (const std::string& path : std::vector<std::string> { "/r", "/api/r", "/api/r/" + id12, "/api/r/" + id12 + "/7", "/api/r/" + id12 + "/42", "/api/join", "/api/me", "/api/firms", "/api/firms/abc123" })
        EXPECT_TRUE(Relay::allowed(relay + path, false)) << path;
    for (const std::string& path : std::vector<std::string> { "/api/firms/abcdefgh/keys", "/admin", "/r?x=1", "/r#top", "/api/r/" + id12.substr(1), "/api/r/" + id12 + "/123", "/api/me/", "/API/me", "/api/%6De", "" })
        EXPECT_FALSE(Relay::allowed(relay + path, false)) << path;

    EXPECT_TRUE(Relay::allowed("https://A.Workers.Dev:8443/api/me", false));
    for (const char* url : { "https://workers.dev/api/me", "https://practice.workers.dev.evil.test/api/me", "https://user@practice.workers.dev/api/me",
             "https://evilworkers.dev/api/me", "ftp://practice.workers.dev/api/me", "practice.workers.dev/api/me", "https:///api/me" })
        EXPECT_FALSE(Relay::allowed(url, true)) << url;

    // Plain http only to the loopback host, and only in a self-test.
    EXPECT_TRUE(Relay::allowed("http://127.0.0.1:8080/api/me", true));
    EXPECT_TRUE(Relay::allowed("http://localhost/api/me", true));
    EXPECT_FALSE(Relay::allowed("http://localhost/api/me", false));
    EXPECT_FALSE(Relay::allowed("http://192.168.1.2/api/me", true));
    EXPECT_FALSE(Relay::allowed("http://127.0.0.1.nip.io/api/me", true));

    const std::string notRelay = "That isn't a Quillpost relay address.";
    const std::pair<Json, std::string> cases[] = {
        { { { "base", "https://practice.workers.dev" }, { "path", "/admin" } }, notRelay },
        { { { "base", "not a url" }, { "path", "/api/me" } }, notRelay },
        { { { "base", "https://practice.workers.dev" }, { "path", 7 } }, notRelay },
        { Json::array(), notRelay },
        { { { "base", "https://practice.workers.dev" }, { "path", "/api/me" }, { "method", "PUT" } }, "Not allowed" },
    };
    for (const auto& [args, failure] : cases)
        EXPECT_EQ(call(args)->failure, failure) << args.dump();
    EXPECT_TRUE(m_http.sent.empty());

    // What is sent is only the allowed parts of the request.
    call({
        { "base", "https://practice.workers.dev//" },
        { "path", "/api/r" },
        { "method", "post" },
        { "headers", { { "X-Admin", "yes" }, { "x-READ", 5 }, { "Authorization", "Bearer x" }, { "Cookie", "a=b" }, { "X-QP-Key", "k\r\nX-Evil: 1" } } },
        { "body", base64Encode("{\"name\":\"upload\"}") },
    });
    ASSERT_EQ(m_http.sent.size(), 1u);
    const HttpRequest& request = m_http.sent[0].request;
    EXPECT_EQ(request.url, "https://practice.workers.dev/api/r");
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.headers, (std::vector<std::pair<std::string, std::string>> { { "X-Admin", "yes" }, { "x-READ", "5" } }));
    EXPECT_EQ(request.body, "{\"name\":\"upload\"}");
    EXPECT_FALSE(request.followRedirects);
    EXPECT_EQ(request.maxBodyBytes, Relay::maximumBytes);

    call({ { "base", "https://practice.workers.dev" }, { "path", "/api/r" }, { "method", "delete" }, { "body", "not base64!" } });
    EXPECT_EQ(m_http.sent[1].request.method, "DELETE");
    EXPECT_EQ(m_http.sent[1].request.body, "");
    call({ { "base", "https://practice.workers.dev" }, { "path", "/api/r" }, { "method", 5 }, { "body", 5 } });
    EXPECT_EQ(m_http.sent[2].request.method, "GET");
    EXPECT_EQ(m_http.sent[2].request.body, "");

    // Answers carry their status and body, or say what went wrong.
    const struct {
        HttpResult answer;
        std::optional<Json> reply;
        std::optional<std::string> failure;
    } answers[] = {
        { FakeHttpClient::ok("moved", 302), Json { { "status", 302 }, { "body", base64Encode("moved") } }, std::nullopt },
        { FakeHttpClient::ok("", 404), Json { { "status", 404 }, { "body", "" } }, std::nullopt },
        { FakeHttpClient::tooLarge(), std::nullopt, "The relay sent too much." },
        { FakeHttpClient::failed("Connection refused"), std::nullopt, "Couldn't reach the relay (Connection refused)." },
    };
    for (const auto& test : answers) {
        auto outcome = call({ { "base", "http://127.0.0.1:1" }, { "path", "/api/me" } });
        m_http.answer("http://127.0.0.1:1/api/me", test.answer);
        EXPECT_EQ(outcome->reply, test.reply);
        EXPECT_EQ(outcome->failure, test.failure);
    }
}

}
}
