#include "platform/linux/GtkApplicationHost.h"

#include <glib-unix.h>

#include <csignal>

namespace quillpost {

std::unique_ptr<Application> Application::create(const std::string& identifier, bool unique)
{
    return std::make_unique<GtkApplicationHost>(identifier, unique);
}

GtkApplicationHost::GtkApplicationHost(const std::string& identifier, bool unique)
    : m_application(gtk_application_new(identifier.c_str(),
          static_cast<GApplicationFlags>(G_APPLICATION_HANDLES_OPEN | (unique ? 0 : G_APPLICATION_NON_UNIQUE))))
{
    g_signal_connect(m_application, "activate", G_CALLBACK(activated), this);
    g_signal_connect(m_application, "open", G_CALLBACK(opened), this);
    // The launcher's quicklist starts "quillpost --menu-command=<command>".
    g_application_add_main_option(G_APPLICATION(m_application), "menu-command", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_STRING,
        "Carry out a menu command in the running Quillpost", "COMMAND");
    g_signal_connect(m_application, "handle-local-options", G_CALLBACK(localOptions), this);
    // Known to the session manager, so that a logout or shutdown asks us first (query-end).
    g_object_set(m_application, "register-session", TRUE, nullptr);
    g_signal_connect(m_application, "query-end", G_CALLBACK(sessionEnding), this);
}

gint GtkApplicationHost::localOptions(GApplication* application, GVariantDict* options, gpointer self)
{
    const char* command = nullptr;
    if (!g_variant_dict_lookup(options, "menu-command", "&s", &command))
        return -1;
    g_autoptr(GError) error = nullptr;
    if (!g_application_register(application, nullptr, &error)) {
        g_printerr("Quillpost could not start: %s\n", error->message);
        return 1;
    }
    if (g_application_get_is_remote(application)) {
        // The running instance carries it out; this process ends once the call has gone out.
        g_action_group_activate_action(G_ACTION_GROUP(application), "menu-command", g_variant_new_string(command));
        return 0;
    }
    static_cast<GtkApplicationHost*>(self)->m_launchMenuCommand = command;
    return -1;
}

GtkApplicationHost::~GtkApplicationHost()
{
    if (m_signalSource)
        g_source_remove(m_signalSource);
    g_object_unref(m_application);
}

int GtkApplicationHost::run(int argc, char** argv, std::function<void()> onLaunch)
{
    m_onLaunch = std::move(onLaunch);
    // From here on SIGTERM no longer ends the process by itself; the handler decides.
    m_signalSource = g_unix_signal_add(SIGTERM, terminationSignal, this);
    return g_application_run(G_APPLICATION(m_application), argc, argv);
}

void GtkApplicationHost::launchOnce()
{
    if (m_launched)
        return;
    m_launched = true;
    if (m_onLaunch)
        m_onLaunch();
    if (!m_launchMenuCommand.empty() && g_action_group_has_action(G_ACTION_GROUP(m_application), "menu-command"))
        g_action_group_activate_action(G_ACTION_GROUP(m_application), "menu-command", g_variant_new_string(m_launchMenuCommand.c_str()));
    m_launchMenuCommand.clear();
}

void GtkApplicationHost::activated(GApplication* application, gpointer self)
{
    auto* host = static_cast<GtkApplicationHost*>(self);
    if (!host->m_launched) {
        host->launchOnce();
        return;
    }
    if (host->m_onReopen) {
        host->m_onReopen();
        return;
    }
    if (auto* window = gtk_application_get_active_window(GTK_APPLICATION(application)))
        gtk_window_present(window);
}

void GtkApplicationHost::opened(GApplication*, GFile** files, int count, const char*, gpointer self)
{
    auto* host = static_cast<GtkApplicationHost*>(self);
    host->launchOnce();
    std::vector<std::string> uris;
    for (int index = 0; index < count; ++index) {
        // A scheme GIO doesn't know keeps the text it was given.
        g_autofree char* uri = g_file_get_uri(files[index]);
        if (uri)
            uris.emplace_back(uri);
    }
    if (host->m_onOpen)
        host->m_onOpen(uris);
}

gboolean GtkApplicationHost::terminationSignal(gpointer self)
{
    static_cast<GtkApplicationHost*>(self)->terminate();
    return G_SOURCE_CONTINUE;
}

void GtkApplicationHost::sessionEnding(GtkApplication* application, gpointer self)
{
    // The session waits while we finish; the inhibition ends with the process.
    gtk_application_inhibit(application, nullptr, GTK_APPLICATION_INHIBIT_LOGOUT, "Saving your last changes");
    static_cast<GtkApplicationHost*>(self)->terminate();
}

void GtkApplicationHost::terminate()
{
    if (m_onTermination)
        m_onTermination();
    else
        quit();
}

void GtkApplicationHost::setAppearance(Appearance appearance)
{
    auto* settings = gtk_settings_get_default();
    if (!settings)
        return;
    g_object_set(settings, "gtk-application-prefer-dark-theme", appearance == Appearance::Dark, nullptr);
}

void GtkApplicationHost::quit()
{
    g_application_quit(G_APPLICATION(m_application));
}

void GtkApplicationHost::setOnOpen(std::function<void(const std::vector<std::string>&)> onOpen)
{
    m_onOpen = std::move(onOpen);
}

void GtkApplicationHost::setOnReopen(std::function<void()> onReopen)
{
    m_onReopen = std::move(onReopen);
}

void GtkApplicationHost::setOnTermination(std::function<void()> onTermination)
{
    m_onTermination = std::move(onTermination);
}

bool GtkApplicationHost::isActive() const
{
    for (auto* item = gtk_application_get_windows(m_application); item; item = item->next) {
        if (gtk_window_is_active(GTK_WINDOW(item->data)))
            return true;
    }
    return false;
}

}
