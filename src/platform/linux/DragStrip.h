#pragma once

#include <gtk/gtk.h>

namespace quillpost {

// The band of the title bar beside the sidebar: a window handle, so a drag moves the window and a
// double click zooms it, as in any title bar. The window buttons sit at its end.
class DragStrip {
public:
    static GtkWidget* create(double leading, double height);
};

}
