#include "platform/WindowButtonSides.h"

namespace quillpost {

static bool namesAButton(std::string_view half)
{
    // Unknown names draw nothing, as GTK ignores them; "appmenu" draws only with an app menu.
    for (std::string_view button : { "icon", "minimize", "maximize", "close" }) {
        for (size_t at = half.find(button); at != std::string_view::npos; at = half.find(button, at + 1)) {
            const bool startsWord = at == 0 || half[at - 1] == ',';
            const size_t after = at + button.size();
            if (startsWord && (after == half.size() || half[after] == ','))
                return true;
        }
    }
    return false;
}

WindowButtonSides windowButtonSidesOf(std::string_view decorationLayout)
{
    auto colon = decorationLayout.find(':');
    // Without a colon, everything is at the start.
    if (colon == std::string_view::npos)
        return { namesAButton(decorationLayout), false };
    return { namesAButton(decorationLayout.substr(0, colon)), namesAButton(decorationLayout.substr(colon + 1)) };
}

}
