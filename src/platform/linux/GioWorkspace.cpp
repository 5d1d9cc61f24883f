#include "platform/Workspace.h"

#include "platform/Log.h"

#include <gio/gio.h>

namespace quillpost {

namespace {

// Asks the file manager (org.freedesktop.FileManager1) to show the item selected; when no file
// manager answers on the session bus, the item's folder opens in the default application instead.
class GioWorkspace final : public Workspace {
public:
    void revealFile(const std::filesystem::path& path) override
    {
        g_autoptr(GFile) file = g_file_new_for_path(path.c_str());
        g_autofree char* uri = g_file_get_uri(file);
        g_autoptr(GError) error = nullptr;
        g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (!bus) {
            openFolderOf(path);
            return;
        }
        const char* uris[] = { uri, nullptr };
        auto* folder = new std::filesystem::path(path);
        g_dbus_connection_call(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
            "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::filesystem::path> item(static_cast<std::filesystem::path*>(data));
                g_autoptr(GError) callError = nullptr;
                g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &callError);
                if (!reply)
                    openFolderOf(*item);
            },
            folder);
    }

    bool openFile(const std::filesystem::path& path) override
    {
        g_autoptr(GFile) file = g_file_new_for_path(path.c_str());
        g_autofree char* uri = g_file_get_uri(file);
        return openUri(uri);
    }

    bool openUri(const std::string& uri) override
    {
        g_autoptr(GError) error = nullptr;
        if (g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error))
            return true;
        Log::error("Couldn't open " + uri + ": " + error->message);
        return false;
    }

    std::optional<std::filesystem::path> downloadsFolder() const override
    {
        const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
        if (!folder)
            return std::nullopt;
        return std::filesystem::path(folder);
    }

    bool moveToTrash(const std::filesystem::path& path) override
    {
        // g_file_trash only ever moves: where the volume has no Trash it fails with
        // G_IO_ERROR_NOT_SUPPORTED and the file stays where it is.
        g_autoptr(GFile) file = g_file_new_for_path(path.c_str());
        g_autoptr(GError) error = nullptr;
        if (g_file_trash(file, nullptr, &error))
            return true;
        Log::error("Couldn't move " + path.string() + " to the Trash: " + error->message);
        return false;
    }

private:
    static void openFolderOf(const std::filesystem::path& path)
    {
        std::error_code error;
        auto folder = std::filesystem::is_directory(path, error) ? path : path.parent_path();
        g_autoptr(GFile) file = g_file_new_for_path(folder.c_str());
        g_autofree char* uri = g_file_get_uri(file);
        g_app_info_launch_default_for_uri(uri, nullptr, nullptr);
    }
};

}

Workspace& Workspace::shared()
{
    static GioWorkspace workspace;
    return workspace;
}

}
