#include "platform/linux/DragStrip.h"

namespace quillpost {

GtkWidget* DragStrip::create(double leading, double height)
{
    auto* handle = gtk_window_handle_new();
    gtk_widget_set_name(handle, "drag-strip");
    gtk_widget_set_valign(handle, GTK_ALIGN_START);
    gtk_widget_set_hexpand(handle, TRUE);
    gtk_widget_set_margin_start(handle, static_cast<int>(leading));

    auto* band = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_size_request(band, -1, static_cast<int>(height));
    // Each half of the desktop's button layout (gtk-decoration-layout, "close:" puts the buttons
    // on the left): the controls draw only the buttons their side names.
    gtk_box_append(GTK_BOX(band), gtk_window_controls_new(GTK_PACK_START));
    auto* spacer = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_hexpand(spacer, TRUE);
    gtk_box_append(GTK_BOX(band), spacer);
    gtk_box_append(GTK_BOX(band), gtk_window_controls_new(GTK_PACK_END));
    gtk_window_handle_set_child(GTK_WINDOW_HANDLE(handle), band);
    return handle;
}

}
