#include "platform/linux/GtkApplicationHost.h"

namespace quillpost {

std::unique_ptr<Application> Application::create(const std::string& identifier)
{
    return std::make_unique<GtkApplicationHost>(identifier);
}

GtkApplicationHost::GtkApplicationHost(const std::string& identifier)
    : m_application(gtk_application_new(identifier.c_str(), G_APPLICATION_DEFAULT_FLAGS))
{
    g_signal_connect(m_application, "activate", G_CALLBACK(activated), this);
}

GtkApplicationHost::~GtkApplicationHost()
{
    g_object_unref(m_application);
}

int GtkApplicationHost::run(int argc, char** argv, std::function<void()> onLaunch)
{
    m_onLaunch = std::move(onLaunch);
    return g_application_run(G_APPLICATION(m_application), argc, argv);
}

void GtkApplicationHost::activated(GApplication* application, gpointer self)
{
    auto* host = static_cast<GtkApplicationHost*>(self);
    if (host->m_launched) {
        // A second launch brings the running instance's window forward.
        if (auto* window = gtk_application_get_active_window(GTK_APPLICATION(application)))
            gtk_window_present(window);
        return;
    }
    host->m_launched = true;
    if (host->m_onLaunch)
        host->m_onLaunch();
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

}
