#include "net/Relay.h"

#include "common/Base64.h"
#include "net/Deployment.h"
#include "platform/HttpClient.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <regex>

namespace quillpost::Relay {

namespace {

constexpr auto timeout = std::chrono::seconds(60);
constexpr std::array passedHeaders { "x-qp-key", "x-read", "x-admin", "content-type" };

const std::regex& paths()
{
    static const std::regex pattern("^/(r|api/r(/[A-Za-z0-9_-]{12,40}(/[0-9]{1,2})?)?|api/join|api/me|api/firms(/[A-Za-z0-9_-]{6,20})?)$");
    return pattern;
}

std::string lowercase(std::string_view text)
{
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lowered;
}

// The parts of an absolute http(s) address that the rules look at. Anything unusual (no "//",
// an empty host, characters a host cannot hold) gives nothing, and nothing is allowed.
struct Address {
    std::string scheme;
    bool hasUser { false };
    std::string host;
    std::string path;
    bool hasQueryOrFragment { false };
};

std::optional<Address> parse(std::string_view url)
{
    const auto colon = url.find("://");
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    Address address;
    address.scheme = lowercase(url.substr(0, colon));
    std::string_view rest = url.substr(colon + 3);

    const auto authorityEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authorityEnd);
    rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);

    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        address.hasUser = true;
        authority = authority.substr(at + 1);
    }
    std::string_view host = authority;
    if (const auto portColon = authority.rfind(':'); portColon != std::string_view::npos) {
        const auto port = authority.substr(portColon + 1);
        if (!std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
            return std::nullopt;
        host = authority.substr(0, portColon);
    }
    if (host.empty() || !std::all_of(host.begin(), host.end(), [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '-'; }))
        return std::nullopt;
    address.host = lowercase(host);

    const auto queryStart = rest.find_first_of("?#");
    address.hasQueryOrFragment = queryStart != std::string_view::npos;
    address.path = std::string(rest.substr(0, queryStart));
    return address;
}

}

bool allowed(std::string_view url, bool selfTest)
{
    // No address is longer than this; the pattern matcher recurses once per character.
    if (url.size() > 2048)
        return false;
    const auto address = parse(url);
    if (!address || address->hasUser || address->hasQueryOrFragment)
        return false;
    if (!std::regex_match(address->path, paths()))
        return false;
    const std::string_view host = address->host;
    const std::string_view suffix = Deployment::relayDomainSuffix;
    if (address->scheme == "https")
        return host.size() > suffix.size() && host.ends_with(suffix);
    if (address->scheme == "http")
        return selfTest && (host == "127.0.0.1" || host == "localhost");
    return false;
}

void call(HttpClient& client, const Json& args, bool selfTest, std::function<void(Json)> reply, std::function<void(std::string)> fail)
{
    auto text = [&args](const char* key) {
        const auto entry = args.find(key);
        return entry != args.end() && entry->is_string() ? entry->get<std::string>() : std::string();
    };
    if (!args.is_object()) {
        fail("That isn't a Quillpost relay address.");
        return;
    }

    std::string base = text("base");
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    const std::string url = base + text("path");
    if (!allowed(url, selfTest)) {
        fail("That isn't a Quillpost relay address.");
        return;
    }

    const auto method = args.find("method");
    HttpRequest request;
    request.url = url;
    request.method = method != args.end() && method->is_string() ? method->get<std::string>() : "GET";
    std::transform(request.method.begin(), request.method.end(), request.method.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (request.method != "GET" && request.method != "POST" && request.method != "DELETE") {
        fail("Not allowed");
        return;
    }
    request.timeout = timeout;
    request.followRedirects = false;
    request.maxBodyBytes = maximumBytes;

    if (const auto headers = args.find("headers"); headers != args.end() && headers->is_object()) {
        for (auto& [name, value] : headers->items()) {
            if (std::find(passedHeaders.begin(), passedHeaders.end(), lowercase(name)) == passedHeaders.end())
                continue;
            std::string written = value.is_string() ? value.get<std::string>() : value.dump();
            // A line break would start another header of the page's choosing.
            if (written.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
                continue;
            request.headers.emplace_back(name, std::move(written));
        }
    }
    if (const std::string body = text("body"); !body.empty())
        request.body = base64Decode(body).value_or("");

    client.send(std::move(request), [reply = std::move(reply), fail = std::move(fail)](HttpResult result) {
        switch (result.outcome) {
        case HttpResult::Outcome::TooLarge:
            fail("The relay sent too much.");
            return;
        case HttpResult::Outcome::Failed:
        case HttpResult::Outcome::Cancelled:
            fail("Couldn't reach the relay (" + result.error + ").");
            return;
        case HttpResult::Outcome::Answered:
            reply(Json { { "status", result.status }, { "body", base64Encode(result.body) } });
            return;
        }
    });
}

}
