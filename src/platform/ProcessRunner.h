#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillpost {

// Runs helper programs. The one way the program starts a child process: no shell, the arguments
// go to the program as they are.
class ProcessRunner {
public:
    struct Result {
        bool started { false };
        // The exit status when the program ran to its end; -1 when it didn't start or a signal ended it.
        int exitStatus { -1 };
        std::string output;
        // Standard error; when the program didn't start, why not.
        std::string errorOutput;
    };

    // A program that keeps running beside ours, such as a server.
    class Child {
    public:
        virtual ~Child() = default;
        virtual int pid() const = 0;
        virtual bool running() const = 0;
        // Asks it to end (SIGTERM); it is reaped on the main loop.
        virtual void terminate() = 0;
    };

    virtual ~ProcessRunner() = default;

    // Starts arguments[0] (a path, or a name looked up in PATH) with the rest as its arguments and
    // collects both outputs. The completion runs on the main thread once the program has ended,
    // or at once when it could not be started.
    virtual void run(const std::vector<std::string>& arguments, std::function<void(Result)> completion) = 0;

    // Starts a long-lived program with its input and outputs on /dev/null. It ends with ours if
    // ours dies first. Nothing, with the reason in error, when it could not be started.
    virtual std::unique_ptr<Child> start(const std::vector<std::string>& arguments, std::string& error) = 0;

    // Starts a program that goes on after ours ends (a new copy of ours, after an update), in a
    // session of its own. False, with the reason in error, when it could not be started.
    virtual bool launch(const std::vector<std::string>& arguments, std::string& error) = 0;

    // Processes this run didn't start, found by their id.
    virtual bool alive(int pid) = 0;
    virtual void terminate(int pid) = 0;

    static ProcessRunner& shared();
};

}
