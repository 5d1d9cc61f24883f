#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillpost {

struct HttpRequest {
    std::string url;
    std::string method { "GET" };
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The longest the request may go without receiving anything (connecting included): a slow
    // but steady transfer goes on, a stalled one fails as timed out.
    std::chrono::seconds timeout { 20 };
    // The whole request's cap, however steadily it moves.
    std::chrono::seconds overallLimit { std::chrono::hours(3) };
    bool followRedirects { true };
    // Receiving stops as soon as the body passes this size; the answer is then TooLarge.
    std::size_t maxBodyBytes { 0 };
    // Called on the main queue now and then while the body arrives; total is 0 when the server
    // didn't say.
    std::function<void(std::uint64_t received, std::uint64_t total)> onProgress;
};

struct HttpResult {
    enum class Outcome { Answered, TooLarge, Failed, Cancelled };
    Outcome outcome { Outcome::Failed };
    long status { 0 }; // 0 when nothing that looked like HTTP came back
    std::string body;
    std::string error; // a description of a transport failure: DNS, connection, TLS, time-out
};

// One HTTP request at a time per call, off the main thread: no cookies, no cache, TLS verified
// against the system's certificates. The completion runs on the main queue.
class HttpClient {
public:
    // Handed back by send(): cancelling makes the request end soon with Outcome::Cancelled.
    class Task {
    public:
        virtual ~Task() = default;
        virtual void cancel() = 0;
    };

    virtual ~HttpClient() = default;
    virtual std::shared_ptr<Task> send(HttpRequest, std::function<void(HttpResult)> completion) = 0;

    static HttpClient& shared();
};

}
