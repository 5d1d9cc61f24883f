#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillpost {

// The application object and its event loop on the main thread. One instance runs per user
// session: a second launch hands its links to the running one and ends.
class Application {
public:
    enum class Appearance { Light, Dark };

    virtual ~Application() = default;

    // A unique application is the one instance of its identifier in the session; a non-unique one
    // neither receives nor hands over launches.
    static std::unique_ptr<Application> create(const std::string& identifier, bool unique = true);

    // Runs the event loop; onLaunch runs once, when the application has started. Returns the exit status.
    virtual int run(int argc, char** argv, std::function<void()> onLaunch) = 0;
    virtual void setAppearance(Appearance) = 0;
    virtual void quit() = 0;

    // Links handed to the program by the desktop, in the order given: a second launch, `gio open`,
    // a browser. Called after onLaunch, also for the links of the first launch.
    virtual void setOnOpen(std::function<void(const std::vector<std::string>& uris)>) = 0;
    // The program was started again with nothing to open.
    virtual void setOnReopen(std::function<void()>) = 0;
    // The system ends the program: SIGTERM, or the desktop session ending (logout, shutdown).
    // Delivered on the main loop instead of ending the process; the session waits meanwhile.
    virtual void setOnTermination(std::function<void()>) = 0;
    // Whether one of the program's windows has the keyboard focus.
    virtual bool isActive() const = 0;
};

}
