#pragma once

#include "bridge/CommandReply.h"
#include "common/Json.h"

#include <string>
#include <vector>

namespace quillpost {

class Bridge;

// The application shell as the test-only commands reach it: they act as the desktop would.
class ShellEvents {
public:
    virtual ~ShellEvents() = default;
    // As if the desktop had opened these URLs with the program.
    virtual void openUrls(const std::vector<std::string>& urls) = 0;
    // As if the screens had gone to sleep.
    virtual void screensDidSleep() = 0;
};

namespace ShellCommands {

void notify(Bridge&, const Json& args, const CommandReply&);
void simulateOpenURL(Bridge&, const Json& args, const CommandReply&);
void simulateScreenSleep(Bridge&, const Json& args, const CommandReply&);
void simulateDrop(Bridge&, const Json& args, const CommandReply&);
void answerSaveDialogs(Bridge&, const Json& args, const CommandReply&);

}

}
