#include "platform/Panels.h"

#include "platform/linux/GtkMainWindow.h"

namespace quillpost {

namespace {

// Folder choosers go through GtkFileChooserNative, which uses the desktop portal where there is one.
class GtkPanels final : public Panels {
public:
    void chooseFolder(Window* parent, const std::string& title, std::function<void(std::optional<std::string>)> completion) override
    {
        auto* transientFor = parent ? static_cast<GtkMainWindow*>(parent)->gtkWindow() : nullptr;
        auto* chooser = gtk_file_chooser_native_new(title.c_str(), transientFor, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Choose", "_Cancel");
        gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
        gtk_file_chooser_set_create_folders(GTK_FILE_CHOOSER(chooser), TRUE);

        auto* pending = new std::function<void(std::optional<std::string>)>(std::move(completion));
        g_signal_connect(chooser, "response", G_CALLBACK(+[](GtkNativeDialog* dialog, int response, gpointer data) {
            std::unique_ptr<std::function<void(std::optional<std::string>)>> done(static_cast<std::function<void(std::optional<std::string>)>*>(data));
            std::optional<std::string> path;
            if (response == GTK_RESPONSE_ACCEPT) {
                g_autoptr(GFile) folder = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog));
                g_autofree char* folderPath = folder ? g_file_get_path(folder) : nullptr;
                if (folderPath)
                    path = folderPath;
            }
            gtk_native_dialog_destroy(dialog);
            g_object_unref(dialog);
            (*done)(path);
        }),
            pending);
        gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
    }
};

}

Panels& Panels::shared()
{
    static GtkPanels panels;
    return panels;
}

}
