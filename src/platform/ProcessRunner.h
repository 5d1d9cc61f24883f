#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillpost {

// Runs helper programs. The one way the program starts a child process: no shell, the arguments
// go to the program as they are.
class ProcessRunner {
public:
    struct Result {
        bool started { false };
        // The exit status when the program ran to its end; -1 when it was killed by a signal.
        int exitStatus { -1 };
        // Standard output and standard error, together.
        std::string output;
    };

    virtual ~ProcessRunner() = default;

    // Starts arguments[0] (looked up in PATH) with the rest as its arguments. The completion runs
    // on the main thread once the program has ended, or at once when it could not be started.
    virtual void run(const std::vector<std::string>& arguments, std::function<void(Result)> completion) = 0;

    static ProcessRunner& shared();
};

}
