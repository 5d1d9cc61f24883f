#pragma once

#include <functional>
#include <memory>
#include <string>

namespace quillpost {

// The application object and its event loop on the main thread.
class Application {
public:
    enum class Appearance { Light, Dark };

    virtual ~Application() = default;

    static std::unique_ptr<Application> create(const std::string& identifier);

    // Runs the event loop; onLaunch runs once, when the application has started. Returns the exit status.
    virtual int run(int argc, char** argv, std::function<void()> onLaunch) = 0;
    virtual void setAppearance(Appearance) = 0;
    virtual void quit() = 0;
};

}
