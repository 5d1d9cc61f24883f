#pragma once

#include "common/Json.h"

#include <functional>
#include <string>
#include <string_view>

namespace quillpost {

class HttpClient;

// One HTTP request to the practice's relay server on the page's behalf: only to allowed relay
// addresses, paths, methods and headers; no cookies, no cache, no redirects; a capped answer.
namespace Relay {

inline constexpr std::size_t maximumBytes = 20'000'000;

// Whether a complete address may be called. selfTest admits http on the loopback host.
bool allowed(std::string_view url, bool selfTest);

// args: {"base", "path", "method", "headers", "body" (Base64)}. Exactly one of the callbacks runs,
// once: fail before call returns for a refused request, otherwise later on the main queue.
void call(HttpClient&, const Json& args, bool selfTest, std::function<void(Json)> reply, std::function<void(std::string)> fail);

}

}
