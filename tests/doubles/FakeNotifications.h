#pragma once

#include "platform/Notifications.h"

#include <string>
#include <vector>

namespace quillpost {

// Keeps what would have been shown; onClick plays the user clicking one.
class FakeNotifications final : public Notifications {
public:
    struct Shown {
        std::string id;
        std::string title;
        std::string body;
    };

    void show(const std::string& id, const std::string& title, const std::string& body) override { shown.push_back({ id, title, body }); }
    void setOnClick(std::function<void(const std::string&)> callback) override { onClick = std::move(callback); }

    std::vector<Shown> shown;
    std::function<void(const std::string&)> onClick;
};

}
