#include "platform/MenuBar.h"

#include "platform/linux/GtkApplicationHost.h"

#include <webkit/webkit.h>

#include <map>

namespace quillpost {

namespace {

constexpr const char* commandAction = "menu-command";
constexpr const char* detailedCommandAction = "app.menu-command";

// The menus as a GMenu on the GtkApplication: each item is an application action, so the keys
// set with gtk_application_set_accels_for_action work in every window, with or without a
// visible menu bar, and the quicklist reaches the same actions over D-Bus.
class GtkMenuBar final : public MenuBar {
public:
    void install(const std::vector<Menu>& menus, std::function<void(const std::string&)> onCommand,
        std::function<void(const std::string&)> onAction) override
    {
        m_onCommand = std::move(onCommand);
        m_onAction = std::move(onAction);
        auto* application = GTK_APPLICATION(g_application_get_default());
        if (!application)
            return;

        g_autoptr(GSimpleAction) command = g_simple_action_new(commandAction, G_VARIANT_TYPE_STRING);
        g_signal_connect(command, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* parameter, gpointer self) {
            auto* bar = static_cast<GtkMenuBar*>(self);
            if (parameter && bar->m_onCommand)
                bar->m_onCommand(g_variant_get_string(parameter, nullptr));
        }), this);
        g_action_map_add_action(G_ACTION_MAP(application), G_ACTION(command));

        g_autoptr(GMenu) bar = g_menu_new();
        for (auto& menu : menus) {
            g_autoptr(GMenu) submenu = g_menu_new();
            g_autoptr(GMenu) section = g_menu_new();
            for (auto& item : menu.items) {
                if (item.kind == MenuItem::Kind::Separator) {
                    g_menu_append_section(submenu, nullptr, G_MENU_MODEL(section));
                    g_object_unref(section);
                    section = g_menu_new();
                    continue;
                }
                g_autoptr(GMenuItem) menuItem = makeItem(application, item);
                g_menu_append_item(section, menuItem);
            }
            g_menu_append_section(submenu, nullptr, G_MENU_MODEL(section));
            g_menu_append_submenu(bar, menu.title.c_str(), G_MENU_MODEL(submenu));
        }
        gtk_application_set_menubar(application, G_MENU_MODEL(bar));
    }

private:
    GMenuItem* makeItem(GtkApplication* application, const MenuItem& item)
    {
        std::string detailed;
        if (item.kind == MenuItem::Kind::Command) {
            g_autoptr(GVariant) target = g_variant_ref_sink(g_variant_new_string(item.target.c_str()));
            g_autofree char* name = g_action_print_detailed_name(detailedCommandAction, target);
            detailed = name;
        } else {
            addOperation(application, item);
            detailed = "app.";
            detailed.append(item.target);
        }
        auto* menuItem = g_menu_item_new(item.title.c_str(), detailed.c_str());
        if (!item.accelerator.empty()) {
            if (item.kind == MenuItem::Kind::Editing) {
                // Shown only: the focused widget handles its own editing keys.
                g_menu_item_set_attribute(menuItem, "accel", "s", item.accelerator.c_str());
            } else {
                const char* accelerators[] = { item.accelerator.c_str(), nullptr };
                gtk_application_set_accels_for_action(application, detailed.c_str(), accelerators);
            }
        }
        return menuItem;
    }

    void addOperation(GtkApplication* application, const MenuItem& item)
    {
        if (g_action_map_lookup_action(G_ACTION_MAP(application), item.target.c_str()))
            return;
        g_autoptr(GSimpleAction) action = g_simple_action_new(item.target.c_str(), nullptr);
        m_kinds[item.target] = item.kind;
        g_signal_connect(action, "activate", G_CALLBACK(+[](GSimpleAction* activated, GVariant*, gpointer self) {
            auto* bar = static_cast<GtkMenuBar*>(self);
            std::string name = g_action_get_name(G_ACTION(activated));
            bar->perform(name, bar->m_kinds[name]);
        }), this);
        g_action_map_add_action(G_ACTION_MAP(application), G_ACTION(action));
    }

    void perform(const std::string& name, MenuItem::Kind kind)
    {
        auto* application = GTK_APPLICATION(g_application_get_default());
        auto* window = application ? gtk_application_get_active_window(application) : nullptr;
        // Chosen from outside (over D-Bus) while no window has the focus: the main window, the first one made.
        if (!window && application) {
            auto* windows = gtk_application_get_windows(application);
            window = windows ? GTK_WINDOW(g_list_last(windows)->data) : nullptr;
        }
        if (kind == MenuItem::Kind::Action) {
            if (m_onAction)
                m_onAction(name);
            return;
        }
        if (kind == MenuItem::Kind::Editing) {
            edit(window, name);
            return;
        }
        if (name == "about") {
            gtk_show_about_dialog(window, "program-name", "Quillpost", "version", QUILLPOST_VERSION, "logo-icon-name", "quillpost",
                "comments", "Clients, files, deadlines and documents for an immigration practice", nullptr);
            return;
        }
        if (!window)
            return;
        if (name == "close-window")
            gtk_window_close(window);
        else if (name == "minimize" || name == "hide")
            gtk_window_minimize(window);
        else if (name == "zoom" && gtk_window_is_maximized(window))
            gtk_window_unmaximize(window);
        else if (name == "zoom")
            gtk_window_maximize(window);
    }

    static void edit(GtkWindow* window, const std::string& name)
    {
        auto* focus = window ? gtk_root_get_focus(GTK_ROOT(window)) : nullptr;
        for (auto* widget = focus; widget; widget = gtk_widget_get_parent(widget)) {
            if (!WEBKIT_IS_WEB_VIEW(widget))
                continue;
            static const std::map<std::string, const char*> commands {
                { "undo", WEBKIT_EDITING_COMMAND_UNDO }, { "redo", WEBKIT_EDITING_COMMAND_REDO },
                { "cut", WEBKIT_EDITING_COMMAND_CUT }, { "copy", WEBKIT_EDITING_COMMAND_COPY },
                { "paste", WEBKIT_EDITING_COMMAND_PASTE }, { "select-all", WEBKIT_EDITING_COMMAND_SELECT_ALL },
            };
            if (auto found = commands.find(name); found != commands.end())
                webkit_web_view_execute_editing_command(WEBKIT_WEB_VIEW(widget), found->second);
            return;
        }
        // GTK's own text widgets carry these as widget actions.
        static const std::map<std::string, const char*> widgetActions {
            { "undo", "text.undo" }, { "redo", "text.redo" }, { "cut", "clipboard.cut" },
            { "copy", "clipboard.copy" }, { "paste", "clipboard.paste" }, { "select-all", "selection.select-all" },
        };
        if (auto found = widgetActions.find(name); focus && found != widgetActions.end())
            gtk_widget_activate_action(focus, found->second, nullptr);
    }

    std::function<void(const std::string&)> m_onCommand;
    std::function<void(const std::string&)> m_onAction;
    std::map<std::string, MenuItem::Kind> m_kinds;
};

}

MenuBar& MenuBar::shared()
{
    static GtkMenuBar bar;
    return bar;
}

}
