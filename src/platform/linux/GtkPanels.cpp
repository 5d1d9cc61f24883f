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

    void ask(Window* parent, const Question& question, std::function<void(std::optional<size_t>)> completion) override
    {
        auto* transientFor = parent ? static_cast<GtkMainWindow*>(parent)->gtkWindow() : nullptr;
        auto* dialog = gtk_message_dialog_new(transientFor, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
            GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", question.message.c_str());
        if (!question.detail.empty())
            gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", question.detail.c_str());
        // Response ids are the buttons' indexes; GTK's own responses (closing the window) are negative.
        for (size_t index = 0; index < question.buttons.size(); ++index)
            gtk_dialog_add_button(GTK_DIALOG(dialog), question.buttons[index].c_str(), static_cast<int>(index));
        if (!question.buttons.empty())
            gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);

        auto* pending = new std::function<void(std::optional<size_t>)>(std::move(completion));
        g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog* answered, int response, gpointer data) {
            std::unique_ptr<std::function<void(std::optional<size_t>)>> done(static_cast<std::function<void(std::optional<size_t>)>*>(data));
            gtk_window_destroy(GTK_WINDOW(answered));
            (*done)(response >= 0 ? std::optional<size_t>(static_cast<size_t>(response)) : std::nullopt);
        }),
            pending);
        gtk_window_present(GTK_WINDOW(dialog));
    }
};

}

Panels& Panels::shared()
{
    static GtkPanels panels;
    return panels;
}

}
