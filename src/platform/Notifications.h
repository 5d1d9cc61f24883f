#pragma once

#include <functional>
#include <string>

namespace quillpost {

// The desktop's notifications: banners that stay in the notification list until dismissed.
class Notifications {
public:
    virtual ~Notifications() = default;

    // Shows a notification now; one shown earlier with the same identifier is replaced.
    virtual void show(const std::string& id, const std::string& title, const std::string& body) = 0;

    // A click on one of our notifications, with its identifier, on the main thread.
    virtual void setOnClick(std::function<void(const std::string& id)>) = 0;

    static Notifications& shared();
};

}
