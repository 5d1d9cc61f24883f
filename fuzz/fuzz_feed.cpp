// The IRCC feed as the network delivers it: the feed's bytes and its detached signature file.
// The input is a little-endian 16-bit length, that many bytes of signature file, then the feed.
#include "FuzzCheck.h"

#include "common/Utf8.h"
#include "doubles/FakeHttpClient.h"
#include "net/IrccFeed.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

using namespace quillpost;

// The public half of a key made for the seed corpus; its private half was not kept.
static constexpr const char* seedKey = "N417XXUm9ELGDUZ7/c1tN8cSZ30v4blYTFTZqi1qp6A=";

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t signatureLength = std::min<std::size_t>(data[0] | (data[1] << 8), size - 2);
    const std::string signature(reinterpret_cast<const char*>(data + 2), signatureLength);
    const std::string feed(reinterpret_cast<const char*>(data + 2 + signatureLength), size - 2 - signatureLength);

    FakeHttpClient http;
    const IrccFeed::Source source { "https://feed.test/feed.json", "https://feed.test/feed.json.sig", seedKey };
    std::optional<Json> answer;
    IrccFeed::fetch(http, source, [&](Json reply) { answer = std::move(reply); });
    http.answer(source.signatureURL, FakeHttpClient::ok(signature));
    http.answer(source.feedURL, FakeHttpClient::ok(feed));

    // One answer, in one of the two forms; a feed reaches the page only whole and as valid text.
    FUZZ_CHECK(answer.has_value());
    FUZZ_CHECK(answer->is_object() && (*answer)["ok"].is_boolean());
    if ((*answer)["ok"].get<bool>()) {
        FUZZ_CHECK((*answer)["feed"] == validUtf8(feed));
    } else {
        FUZZ_CHECK((*answer)["error"] == "The IRCC update failed its signature check and was ignored.");
        FUZZ_CHECK(!answer->contains("feed"));
    }
    return 0;
}
