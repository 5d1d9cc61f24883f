#pragma once

#include <cstddef>
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

    // A save dialog starting in startFolder (when given) with the name filled in; the chosen path, or nothing.
    virtual void chooseSaveLocation(Window* parent, const std::string& suggestedName, const std::optional<std::string>& startFolder,
        std::function<void(std::optional<std::string>)> completion) = 0;

    // An open dialog for files (never folders); the chosen paths, none when cancelled.
    virtual void chooseFiles(Window* parent, bool multiple, std::function<void(std::vector<std::string>)> completion) = 0;

    struct Question {
        std::string message;
        std::string detail;
        std::vector<std::string> buttons; // the first is the default
    };
    // A modal question; hands back the index of the chosen button, or nothing when it was closed without one.
    virtual void ask(Window* parent, const Question&, std::function<void(std::optional<size_t>)> completion) = 0;

    static Panels& shared();

    // A self-test run has no one at the save dialog. Once a test-only command has named a folder
    // here, save dialogs answer with that folder and the suggested name instead of showing; an
    // empty folder answers as the user's Cancel would.
    static inline std::optional<std::string> s_selfTestSaveFolder;
};

}
