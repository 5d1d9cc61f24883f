#pragma once

#include "common/Json.h"

#include <functional>
#include <string>

namespace quillpost {

class HttpClient;

// The maker's signed IRCC updates for the page. Every call downloads the feed and its detached
// signature again and hands the feed over only when the signature verifies.
namespace IrccFeed {

inline constexpr std::size_t maximumBytes = 2'000'000;

struct Source {
    std::string feedURL;
    std::string signatureURL;
    std::string publicKey; // Base64 of the raw 32-byte key
};

// The deployment's feed; in a self-test QUILLPOST_TEST_FEED_URL and QUILLPOST_TEST_FEED_KEY replace it.
Source source();

// Answers {"ok": true, "feed": text} or {"ok": false, "error": message}, on the main queue; never fails.
void fetch(HttpClient&, const Source&, std::function<void(Json)> completion);

}

}
