#include "platform/HttpClient.h"

#include "platform/MainQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <curl/curl.h>
#include <thread>

namespace quillpost {

namespace {

// Test runs may point a host at a loopback server with its own certificate authority; a normal
// run always verifies against the system's certificates and resolves names as the system does.
struct TestOverrides {
    std::string certificateAuthority; // QUILLPOST_TEST_CA_FILE
    std::string resolve;              // QUILLPOST_TEST_RESOLVE, "host:port:address" entries separated by ","
};

TestOverrides testOverrides()
{
    if (!std::getenv("QUILLPOST_SELFTEST"))
        return {};
    auto value = [](const char* name) {
        const char* text = std::getenv(name);
        return std::string(text ? text : "");
    };
    return { value("QUILLPOST_TEST_CA_FILE"), value("QUILLPOST_TEST_RESOLVE") };
}

class CurlTask final : public HttpClient::Task {
public:
    void cancel() override { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }

private:
    std::atomic<bool> m_cancelled { false };
};

struct Transfer {
    HttpRequest request;
    std::shared_ptr<CurlTask> task;
    HttpResult result;
    bool tooLarge { false };
    curl_off_t reported { 0 };
    // The last time any byte moved, for the idle time-out.
    curl_off_t moved { 0 };
    std::chrono::steady_clock::time_point movedAt { std::chrono::steady_clock::now() };
    bool idle { false };
};

size_t receive(char* data, size_t size, size_t count, void* context)
{
    auto& transfer = *static_cast<Transfer*>(context);
    const size_t bytes = size * count;
    // Stop as soon as the cap is passed: a hostile server must not make us hold gigabytes.
    if (transfer.request.maxBodyBytes && transfer.result.body.size() + bytes > transfer.request.maxBodyBytes) {
        transfer.tooLarge = true;
        return CURL_WRITEFUNC_ERROR;
    }
    transfer.result.body.append(data, bytes);
    return bytes;
}

int progress(void* context, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t sent)
{
    auto& transfer = *static_cast<Transfer*>(context);
    // A report per quarter megabyte, and one at the end, is plenty for a progress bar.
    if (transfer.request.onProgress && received > transfer.reported && (received - transfer.reported >= 256 * 1024 || received == total)) {
        transfer.reported = received;
        MainQueue::shared().post([onProgress = transfer.request.onProgress, received, total] {
            onProgress(static_cast<std::uint64_t>(received), static_cast<std::uint64_t>(total));
        });
    }
    if (transfer.task->cancelled())
        return 1;
    // curl calls this at least about once a second, also while nothing arrives.
    const auto now = std::chrono::steady_clock::now();
    if (received + sent != transfer.moved) {
        transfer.moved = received + sent;
        transfer.movedAt = now;
    } else if (now - transfer.movedAt >= std::max(transfer.request.timeout, std::chrono::seconds(1))) {
        transfer.idle = true;
        return 1;
    }
    return 0;
}

void perform(Transfer& transfer)
{
    CURL* curl = curl_easy_init();
    if (!curl) {
        transfer.result.error = "the network library could not start";
        return;
    }
    const HttpRequest& request = transfer.request;
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    // The time-out is an idle time: nothing received for that long ends the transfer (progress()
    // watches for it to the second; curl's low-speed check, which averages over a few seconds,
    // stays as a second guard).
    const long idleSeconds = std::max<long>(1, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, idleSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, idleSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, std::max<long>(idleSeconds, static_cast<long>(request.overallLimit.count())));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Quillpost");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);

    if (request.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    } else if (request.method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (!request.body.empty()) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        }
    }

    // No cached copy anywhere: curl keeps none, and proxies are told not to answer from theirs.
    curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    // curl adds "Expect: 100-continue" to larger bodies, which some servers never answer.
    headers = curl_slist_append(headers, "Expect:");
    for (auto& [name, value] : request.headers)
        headers = curl_slist_append(headers, (name + ": " + value).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

    const TestOverrides overrides = testOverrides();
    curl_slist* resolve = nullptr;
    for (size_t start = 0; start < overrides.resolve.size();) {
        const size_t end = std::min(overrides.resolve.find(',', start), overrides.resolve.size());
        resolve = curl_slist_append(resolve, overrides.resolve.substr(start, end - start).c_str());
        start = end + 1;
    }
    if (resolve)
        curl_easy_setopt(curl, CURLOPT_RESOLVE, resolve);
    if (!overrides.certificateAuthority.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, overrides.certificateAuthority.c_str());

    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    transfer.result.status = status;
    if (transfer.tooLarge) {
        transfer.result.outcome = HttpResult::Outcome::TooLarge;
        transfer.result.body.clear();
    } else if (transfer.task->cancelled()) {
        transfer.result.outcome = HttpResult::Outcome::Cancelled;
    } else if (code != CURLE_OK) {
        transfer.result.outcome = HttpResult::Outcome::Failed;
        transfer.result.error = *errorText ? errorText : curl_easy_strerror(code);
        // curl words a stall as a low speed; what happened is that nothing came for a while.
        if (transfer.idle || (code == CURLE_OPERATION_TIMEDOUT && transfer.result.error.find("too slow") != std::string::npos))
            transfer.result.error = "timed out: nothing arrived for " + std::to_string(idleSeconds) + " s";
        transfer.result.body.clear();
    } else {
        transfer.result.outcome = HttpResult::Outcome::Answered;
    }

    curl_slist_free_all(headers);
    curl_slist_free_all(resolve);
    curl_easy_cleanup(curl);
}

class CurlHttpClient final : public HttpClient {
public:
    CurlHttpClient() { curl_global_init(CURL_GLOBAL_DEFAULT); }

    std::shared_ptr<Task> send(HttpRequest request, std::function<void(HttpResult)> completion) override
    {
        auto task = std::make_shared<CurlTask>();
        // One thread per request: a server that hangs holds only its own thread, never the main one
        // or another request. The idle time-out and the overall cap bound how long each thread lives.
        std::thread([transfer = Transfer { std::move(request), task, {}, false }, completion = std::move(completion)]() mutable {
            perform(transfer);
            MainQueue::shared().post([result = std::move(transfer.result), completion = std::move(completion)]() mutable {
                completion(std::move(result));
            });
        }).detach();
        return task;
    }
};

}

HttpClient& HttpClient::shared()
{
    static CurlHttpClient client;
    return client;
}

}
