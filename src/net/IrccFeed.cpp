#include "net/IrccFeed.h"

#include "common/Base64.h"
#include "common/Ed25519.h"
#include "common/Utf8.h"
#include "net/Deployment.h"
#include "platform/HttpClient.h"

#include <cstdlib>
#include <memory>
#include <optional>

namespace quillpost::IrccFeed {

namespace {

constexpr auto timeout = std::chrono::seconds(20);

// The outcome of one download: the bytes, or the description that goes into the network message.
struct Download {
    std::optional<std::string> bytes;
    std::string failure;
};

Download downloaded(HttpResult result)
{
    switch (result.outcome) {
    case HttpResult::Outcome::TooLarge:
        return { std::nullopt, "the update was unexpectedly large" };
    case HttpResult::Outcome::Failed:
        return { std::nullopt, result.error };
    case HttpResult::Outcome::Cancelled:
        return { std::nullopt, "cancelled" };
    case HttpResult::Outcome::Answered:
        break;
    }
    if (result.status < 200 || result.status > 299)
        return { std::nullopt, "the server answered " + std::to_string(result.status) };
    return { std::move(result.body), {} };
}

Json unreachable(const std::string& description)
{
    return { { "ok", false }, { "error", "Couldn't reach the IRCC update service (" + description + ")." } };
}

Json signatureFailed()
{
    return { { "ok", false }, { "error", "The IRCC update failed its signature check and was ignored." } };
}

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view space = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

Json verified(const std::string& feed, const std::string& signatureFile, const std::string& publicKey)
{
    const auto signature = base64Decode(trimmed(validUtf8(signatureFile)));
    const auto key = base64Decode(publicKey);
    if (!signature || !key || !ed25519Verify(*key, feed, *signature))
        return signatureFailed();
    return { { "ok", true }, { "feed", validUtf8(feed) } };
}

// Both downloads run at once; the answer waits for the feed first, then for the signature.
struct Fetch {
    Source source;
    std::function<void(Json)> completion;
    std::optional<Download> feed;
    std::optional<Download> signature;
    std::shared_ptr<HttpClient::Task> signatureTask;
    bool answered { false };

    void settle()
    {
        if (answered || !feed)
            return;
        if (!feed->bytes) {
            // The signature no longer matters; it is cancelled and its end is not waited for here.
            if (signatureTask && !signature)
                signatureTask->cancel();
            answer(unreachable(feed->failure));
            return;
        }
        if (!signature)
            return;
        if (!signature->bytes) {
            answer(unreachable(signature->failure));
            return;
        }
        answer(verified(*feed->bytes, *signature->bytes, source.publicKey));
    }

    void answer(Json reply)
    {
        answered = true;
        completion(std::move(reply));
    }
};

HttpRequest get(const std::string& url)
{
    HttpRequest request;
    request.url = url;
    request.timeout = timeout;
    request.followRedirects = true;
    // One byte past the cap is enough to know the body is too large.
    request.maxBodyBytes = maximumBytes;
    return request;
}

}

Source source()
{
    Source feed { Deployment::feedURL, Deployment::feedURL, Deployment::feedPublicKey };
    feed.signatureURL += Deployment::feedSignatureSuffix;
    if (!std::getenv("QUILLPOST_SELFTEST"))
        return feed;
    if (const char* url = std::getenv("QUILLPOST_TEST_FEED_URL"); url && *url) {
        feed.feedURL = url;
        feed.signatureURL = url;
        feed.signatureURL += Deployment::feedSignatureSuffix;
    }
    if (const char* key = std::getenv("QUILLPOST_TEST_FEED_KEY"); key && *key)
        feed.publicKey = key;
    return feed;
}

void fetch(HttpClient& client, const Source& source, std::function<void(Json)> completion)
{
    auto state = std::make_shared<Fetch>();
    state->source = source;
    state->completion = std::move(completion);
    client.send(get(source.feedURL), [state](HttpResult result) {
        state->feed = downloaded(std::move(result));
        state->settle();
    });
    state->signatureTask = client.send(get(source.signatureURL), [state](HttpResult result) {
        state->signature = downloaded(std::move(result));
        state->settle();
    });
}

}
