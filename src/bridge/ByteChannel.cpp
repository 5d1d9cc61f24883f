#include "bridge/ByteChannel.h"

#include <array>
#include <openssl/rand.h>

namespace quillpost {

namespace {

SchemeResponse plain(int status, std::string body, std::string contentType = "text/plain")
{
    SchemeResponse response;
    response.status = status;
    response.contentType = std::move(contentType);
    // The page is a file: page, so its fetch is a cross-origin request.
    response.headers["Access-Control-Allow-Origin"] = "*";
    response.headers["Cache-Control"] = "no-store";
    response.body = std::move(body);
    return response;
}

}

ByteChannel::ByteChannel(Clock& clock, std::size_t uploadLimit)
    : m_clock(clock)
    , m_uploadLimit(uploadLimit)
{
}

std::string ByteChannel::newAddress()
{
    std::array<unsigned char, 16> random {};
    if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1)
        throw std::runtime_error("no random bytes for a transfer address");
    static constexpr std::string_view digits = "0123456789abcdef";
    std::string address(addressPrefix);
    for (const unsigned char byte : random) {
        address.push_back(digits[byte >> 4]);
        address.push_back(digits[byte & 15]);
    }
    return address;
}

void ByteChannel::dropExpired()
{
    const auto now = m_clock.now();
    std::erase_if(m_offered, [now](const auto& entry) { return entry.second.expires <= now; });
    for (auto entry = m_uploaded.begin(); entry != m_uploaded.end();) {
        if (entry->second.expires > now) {
            ++entry;
            continue;
        }
        m_uploadedBytes -= entry->second.bytes.size();
        entry = m_uploaded.erase(entry);
    }
}

std::string ByteChannel::offer(std::string&& bytes)
{
    dropExpired();
    std::string address = newAddress();
    m_offered[address] = Entry { std::move(bytes), m_clock.now() + lifetime };
    return address;
}

std::optional<std::string> ByteChannel::take(std::string_view address)
{
    dropExpired();
    const auto entry = m_uploaded.find(address);
    if (entry == m_uploaded.end())
        return std::nullopt;
    std::string bytes = std::move(entry->second.bytes);
    m_uploadedBytes -= bytes.size();
    m_uploaded.erase(entry);
    return bytes;
}

SchemeResponse ByteChannel::answer(const SchemeRequest& request)
{
    dropExpired();
    // The address without a query or fragment the page may have added.
    const std::string_view uri = std::string_view(request.uri).substr(0, request.uri.find_first_of("?#"));
    if (request.method == "POST" && uri == addressPrefix) {
        if (request.body.size() > m_uploadLimit - m_uploadedBytes)
            return plain(413, "too much waiting to be taken");
        std::string address = newAddress();
        m_uploadedBytes += request.body.size();
        m_uploaded[address] = Entry { request.body, m_clock.now() + lifetime };
        return plain(200, std::move(address));
    }
    if (request.method != "GET")
        return plain(405, "not allowed");
    const auto entry = m_offered.find(uri);
    if (entry == m_offered.end())
        return plain(404, "gone");
    SchemeResponse response = plain(200, std::move(entry->second.bytes), "application/octet-stream");
    m_offered.erase(entry);
    return response;
}

SchemeHandler ByteChannel::handler()
{
    return [this](const SchemeRequest& request, SchemeResponder respond) {
        respond(answer(request), {});
    };
}

}
