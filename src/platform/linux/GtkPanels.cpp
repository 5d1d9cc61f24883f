#include "platform/Panels.h"

#include "platform/linux/GtkMainWindow.h"

#include <cstdlib>
#include <filesystem>

namespace quillpost {

namespace {

GtkWindow* gtkWindowOf(Window* window)
{
    return window ? static_cast<GtkMainWindow*>(window)->gtkWindow() : nullptr;
}

std::optional<std::string> pathOf(GFile* file)
{
    g_autofree char* path = file ? g_file_get_path(file) : nullptr;
    return path ? std::optional<std::string>(path) : std::nullopt;
}

// Runs a native chooser and hands its response to done, once; the chooser is freed afterwards.
void runChooser(GtkFileChooserNative* chooser, std::function<void(GtkFileChooser*, bool accepted)> done)
{
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    auto* pending = new std::function<void(GtkFileChooser*, bool)>(std::move(done));
    g_signal_connect(chooser, "response", G_CALLBACK(+[](GtkNativeDialog* dialog, int response, gpointer data) {
        std::unique_ptr<std::function<void(GtkFileChooser*, bool)>> finish(static_cast<std::function<void(GtkFileChooser*, bool)>*>(data));
        (*finish)(GTK_FILE_CHOOSER(dialog), response == GTK_RESPONSE_ACCEPT);
        gtk_native_dialog_destroy(dialog);
        g_object_unref(dialog);
    }),
        pending);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

// File choosers go through GtkFileChooserNative, which uses the desktop portal where there is one.
class GtkPanels final : public Panels {
public:
    void chooseFolder(Window* parent, const std::string& title, std::function<void(std::optional<std::string>)> completion) override
    {
        auto* chooser = gtk_file_chooser_native_new(title.c_str(), gtkWindowOf(parent), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Choose", "_Cancel");
        gtk_file_chooser_set_create_folders(GTK_FILE_CHOOSER(chooser), TRUE);
        runChooser(chooser, [completion = std::move(completion)](GtkFileChooser* dialog, bool accepted) {
            g_autoptr(GFile) folder = accepted ? gtk_file_chooser_get_file(dialog) : nullptr;
            completion(pathOf(folder));
        });
    }

    void chooseSaveLocation(Window* parent, const std::string& suggestedName, const std::optional<std::string>& startFolder,
        std::function<void(std::optional<std::string>)> completion) override
    {
        if (s_selfTestSaveFolder && std::getenv("QUILLPOST_SELFTEST")) {
            completion(s_selfTestSaveFolder->empty() ? std::nullopt : std::optional<std::string>((std::filesystem::path(*s_selfTestSaveFolder) / suggestedName).string()));
            return;
        }
        auto* chooser = gtk_file_chooser_native_new("Save", gtkWindowOf(parent), GTK_FILE_CHOOSER_ACTION_SAVE, "_Save", "_Cancel");
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), suggestedName.c_str());
        if (startFolder) {
            g_autoptr(GFile) folder = g_file_new_for_path(startFolder->c_str());
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), folder, nullptr);
        }
        runChooser(chooser, [completion = std::move(completion)](GtkFileChooser* dialog, bool accepted) {
            g_autoptr(GFile) file = accepted ? gtk_file_chooser_get_file(dialog) : nullptr;
            completion(pathOf(file));
        });
    }

    void chooseFiles(Window* parent, bool multiple, std::function<void(std::vector<std::string>)> completion) override
    {
        auto* chooser = gtk_file_chooser_native_new("Open", gtkWindowOf(parent), GTK_FILE_CHOOSER_ACTION_OPEN, "_Open", "_Cancel");
        gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), multiple);
        runChooser(chooser, [completion = std::move(completion)](GtkFileChooser* dialog, bool accepted) {
            std::vector<std::string> paths;
            if (accepted) {
                g_autoptr(GListModel) files = gtk_file_chooser_get_files(dialog);
                for (guint index = 0; files && index < g_list_model_get_n_items(files); ++index) {
                    g_autoptr(GFile) file = G_FILE(g_list_model_get_item(files, index));
                    if (auto path = pathOf(file))
                        paths.push_back(*path);
                }
            }
            completion(std::move(paths));
        });
    }

    void ask(Window* parent, const Question& question, std::function<void(std::optional<size_t>)> completion) override
    {
        auto* dialog = gtk_message_dialog_new(gtkWindowOf(parent), static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
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
