// The relay's allow-list: an address the page builds, and the whole request the page asks for.
#include "FuzzCheck.h"

#include "common/JsonText.h"
#include "doubles/FakeHttpClient.h"
#include "net/Relay.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

using namespace quillpost;

static std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// What every allowed address must be, checked independently of how the relay decides it.
static void checkAllowed(const std::string& url, bool selfTest)
{
    const std::string lowered = lowercase(url);
    const bool secure = lowered.starts_with("https://");
    FUZZ_CHECK(secure || (selfTest && lowered.starts_with("http://")));
    const std::string rest = url.substr(secure ? 8 : 7);
    FUZZ_CHECK(rest.find_first_of("?#@\\ \r\n\t") == std::string::npos);
    FUZZ_CHECK(rest.find('\0') == std::string::npos);
    const std::string authority = rest.substr(0, rest.find('/'));
    const std::string host = lowercase(authority.substr(0, authority.rfind(':')));
    if (secure)
        FUZZ_CHECK(host.size() > 12 && host.ends_with(".workers.dev"));
    else
        FUZZ_CHECK(host == "127.0.0.1" || host == "localhost");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const bool selfTest : { false, true }) {
        if (Relay::allowed(text, selfTest))
            checkAllowed(text, selfTest);
    }

    const Json args = parseJsonText(text);
    if (args.is_discarded())
        return 0;
    FakeHttpClient http;
    int answers = 0;
    Relay::call(http, args, true, [&](Json) { ++answers; }, [&](std::string) { ++answers; });
    if (http.sent.empty()) {
        FUZZ_CHECK(answers == 1);
        return 0;
    }
    // What goes out is an allowed address, an allowed method and only the allowed headers.
    FUZZ_CHECK(answers == 0 && http.sent.size() == 1);
    const HttpRequest& request = http.sent.front().request;
    FUZZ_CHECK(Relay::allowed(request.url, true));
    FUZZ_CHECK(request.method == "GET" || request.method == "POST" || request.method == "DELETE");
    FUZZ_CHECK(!request.followRedirects && request.maxBodyBytes == Relay::maximumBytes);
    for (auto& [name, value] : request.headers) {
        const std::string lowered = lowercase(name);
        FUZZ_CHECK(lowered == "x-qp-key" || lowered == "x-read" || lowered == "x-admin" || lowered == "content-type");
        FUZZ_CHECK(value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    }
    http.answer(request.url, FakeHttpClient::ok("ok"));
    FUZZ_CHECK(answers == 1);
    return 0;
}
