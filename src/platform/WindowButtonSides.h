#pragma once

#include <string_view>

namespace quillpost {

// Which ends of the title bar the desktop puts window buttons on.
struct WindowButtonSides {
    bool start { false };
    bool end { true };
};

// The sides a GTK decoration layout names ("icon:minimize,maximize,close" puts the icon at the
// start and three buttons at the end; "close,maximize:" puts them all at the start).
WindowButtonSides windowButtonSidesOf(std::string_view decorationLayout);

}
