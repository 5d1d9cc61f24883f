#pragma once

#include "platform/HttpClient.h"

#include <deque>
#include <memory>
#include <string>

namespace quillpost {

// Keeps each request with its completion until the test answers it, as a slow server would.
class FakeHttpClient final : public HttpClient {
public:
    class FakeTask final : public Task {
    public:
        void cancel() override { cancelled = true; }
        bool cancelled { false };
    };

    struct Sent {
        HttpRequest request;
        std::function<void(HttpResult)> completion;
        std::shared_ptr<FakeTask> task;
    };

    std::shared_ptr<Task> send(HttpRequest request, std::function<void(HttpResult)> completion) override
    {
        auto task = std::make_shared<FakeTask>();
        sent.push_back({ std::move(request), std::move(completion), task });
        return task;
    }

    // Answers the request to url (the first one still waiting for it).
    void answer(const std::string& url, HttpResult result)
    {
        for (auto& request : sent) {
            if (request.request.url == url && request.completion) {
                auto completion = std::move(request.completion);
                request.completion = nullptr;
                completion(std::move(result));
                return;
            }
        }
        throw std::logic_error("no request waits for " + url);
    }

    static HttpResult ok(std::string body, long status = 200) { return { HttpResult::Outcome::Answered, status, std::move(body), {} }; }
    static HttpResult failed(std::string error) { return { HttpResult::Outcome::Failed, 0, {}, std::move(error) }; }
    static HttpResult tooLarge() { return { HttpResult::Outcome::TooLarge, 200, {}, {} }; }

    std::deque<Sent> sent;
};

}
