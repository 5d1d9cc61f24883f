#pragma once

#include "platform/Clock.h"
#include "platform/WebView.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// Large bytes between the page and the program without Base64 or JSON: the page fetches bytes
// the program offered, and uploads bytes that a command then takes, each under a one-time address
// "quillpost-bytes://bytes/<32 hex digits>". Addresses are random, work once and expire; only the
// main page's web view carries the scheme. Commands keep taking and giving Base64 as well.
class ByteChannel {
public:
    static constexpr std::string_view scheme = "quillpost-bytes";
    static constexpr std::string_view addressPrefix = "quillpost-bytes://bytes/";
    static constexpr std::chrono::seconds lifetime { 60 };
    // What uploads not yet taken may hold together; a page that piles up more is refused.
    static constexpr std::size_t defaultUploadLimit = 1024ull * 1024 * 1024;

    explicit ByteChannel(Clock&, std::size_t uploadLimit = defaultUploadLimit);

    // The address from which the page fetches these bytes, once.
    std::string offer(std::string&& bytes);
    // The bytes the page uploaded to this address; nothing when it is unknown, used or expired.
    std::optional<std::string> take(std::string_view address);

    static bool isAddress(std::string_view text) { return text.starts_with(addressPrefix); }

    // A GET of an offered address answers its bytes; a POST of the prefix alone stores the body
    // and answers its new address.
    SchemeResponse answer(const SchemeRequest&);
    SchemeHandler handler();

private:
    struct Entry {
        std::string bytes;
        Clock::TimePoint expires;
    };
    std::string newAddress();
    void dropExpired();

    Clock& m_clock;
    std::size_t m_uploadLimit;
    std::map<std::string, Entry, std::less<>> m_offered;
    std::map<std::string, Entry, std::less<>> m_uploaded;
    std::size_t m_uploadedBytes { 0 };
};

}
