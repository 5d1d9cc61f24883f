#pragma once

#include "platform/MainQueue.h"
#include "platform/ProcessRunner.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace quillpost {

// Programs that "run" by the test's script. Given a main queue, answers (from `respond`) arrive
// through it, as the real runner's do, so nothing answers before the test lets the queue run.
// Without one, each run waits until the test ends it with exit(), as a slow program would.
class FakeProcessRunner final : public ProcessRunner {
public:
    // What became of a started program, kept after its owner lets it go.
    struct ChildState {
        int id { 0 };
        bool alive { true };
        bool terminated { false };
        std::vector<std::string> arguments {};
    };

    struct Child final : ProcessRunner::Child {
        int pid() const override { return state->id; }
        bool running() const override { return state->alive; }
        void terminate() override
        {
            state->terminated = true;
            state->alive = false;
        }
        std::shared_ptr<ChildState> state;
    };

    FakeProcessRunner() = default;
    explicit FakeProcessRunner(MainQueue& mainQueue)
        : m_mainQueue(&mainQueue)
    {
    }

    void run(const std::vector<std::string>& arguments, std::function<void(Result)> completion) override
    {
        runs.push_back(arguments);
        if (!installed) {
            completion(Result { false, -1, {}, "not installed" });
            return;
        }
        if (!m_mainQueue) {
            pending = std::move(completion);
            return;
        }
        Result result = respond ? respond(arguments) : Result { true, 0, {}, {} };
        m_mainQueue->post([completion = std::move(completion), result = std::move(result)] { completion(result); });
    }

    // Ends the program that is waiting, with this exit status.
    void exit(int status)
    {
        auto completion = std::move(pending);
        pending = nullptr;
        completion(Result { true, status, {}, {} });
    }

    bool launch(const std::vector<std::string>& arguments, std::string& error) override
    {
        launches.push_back(arguments);
        error = startError;
        return startError.empty();
    }

    std::unique_ptr<ProcessRunner::Child> start(const std::vector<std::string>& arguments, std::string& error) override
    {
        starts.push_back(arguments);
        if (!startError.empty()) {
            error = startError;
            return nullptr;
        }
        children.push_back(std::make_shared<ChildState>(ChildState { 4242 + static_cast<int>(children.size()), true, false, arguments }));
        auto child = std::make_unique<Child>();
        child->state = children.back();
        return child;
    }

    bool alive(int pid) override
    {
        ++aliveChecks;
        return livePids.contains(pid);
    }

    void terminate(int pid) override
    {
        terminatedPids.push_back(pid);
        if (staleServerObeys)
            livePids.erase(pid);
    }

    std::vector<std::vector<std::string>> runsOf(const std::string& path) const
    {
        std::vector<std::vector<std::string>> found;
        std::copy_if(runs.begin(), runs.end(), std::back_inserter(found), [&](auto& run) { return !run.empty() && run[0] == path; });
        return found;
    }

    // Whether a started program that still runs was given this argument (a server's port, say).
    bool runningWith(const std::string& argument) const
    {
        return std::any_of(children.begin(), children.end(), [&](const auto& child) {
            return child->alive && std::find(child->arguments.begin(), child->arguments.end(), argument) != child->arguments.end();
        });
    }

    bool installed { true };
    std::function<void(Result)> pending;
    std::function<Result(const std::vector<std::string>&)> respond;
    std::vector<std::vector<std::string>> runs;
    std::vector<std::vector<std::string>> starts;
    std::vector<std::vector<std::string>> launches;
    std::vector<std::shared_ptr<ChildState>> children;
    std::string startError;
    std::set<int> livePids;
    std::vector<int> terminatedPids;
    bool staleServerObeys { true };
    int aliveChecks { 0 };

private:
    MainQueue* m_mainQueue { nullptr };
};

}
