#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillpost {

class Window;

// Modal panels: attached to the given window when there is one, otherwise application-modal.
class Panels {
public:
    virtual ~Panels() = default;

    // Hands back the chosen folder's path, or nothing when the user cancels.
    virtual void chooseFolder(Window* parent, const std::string& title, std::function<void(std::optional<std::string>)> completion) = 0;

    struct Question {
        std::string message;
        std::string detail;
        std::vector<std::string> buttons; // the first is the default
    };
    // A modal question; hands back the index of the chosen button, or nothing when it was closed without one.
    virtual void ask(Window* parent, const Question&, std::function<void(std::optional<size_t>)> completion) = 0;

    static Panels& shared();
};

}
