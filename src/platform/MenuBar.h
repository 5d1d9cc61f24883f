#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillpost {

struct MenuItem {
    enum class Kind {
        // Hands its command word to the application (and so to the page).
        Command,
        // An application operation, by name: "quit", "open-editor", "check-updates".
        Action,
        // An operation of the active window, done by the menu bar itself: "about", "hide",
        // "close-window", "minimize", "zoom".
        Window,
        // An edit operation of the focused widget: "undo", "redo", "cut", "copy", "paste",
        // "select-all". Its key is shown but left to the widget, which handles it itself.
        Editing,
        Separator,
    };

    Kind kind { Kind::Separator };
    std::string title;
    // GTK's accelerator syntax ("<Control>n", "<Shift><Control>z"); empty for none.
    std::string accelerator;
    // The command word, or the operation's name.
    std::string target;
};

struct Menu {
    std::string title;
    std::vector<MenuItem> items;
};

// The application's menus. Their keys work in every window of the program, whether or not the
// desktop shows a menu bar.
class MenuBar {
public:
    virtual ~MenuBar() = default;

    // Called once. onCommand receives a Command item's word, also when it comes from outside
    // (the launcher's quicklist); onAction an Action item's name.
    virtual void install(const std::vector<Menu>&, std::function<void(const std::string& command)> onCommand,
        std::function<void(const std::string& action)> onAction) = 0;

    static MenuBar& shared();
};

}
