#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quillpost {

class Window;

// Modal panels: attached to the given window when there is one, otherwise application-modal.
class Panels {
public:
    virtual ~Panels() = default;

    // Hands back the chosen folder's path, or nothing when the user cancels.
    virtual void chooseFolder(Window* parent, const std::string& title, std::function<void(std::optional<std::string>)> completion) = 0;

    static Panels& shared();
};

}
