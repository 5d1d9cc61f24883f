#pragma once

#include "platform/Application.h"

#include <gtk/gtk.h>

namespace quillpost {

// The GtkApplication behind Application. Windows of the program are added to it.
class GtkApplicationHost final : public Application {
public:
    GtkApplicationHost(const std::string& identifier, bool unique);
    ~GtkApplicationHost() override;

    int run(int argc, char** argv, std::function<void()> onLaunch) override;
    void setAppearance(Appearance) override;
    void quit() override;
    void setOnOpen(std::function<void(const std::vector<std::string>&)>) override;
    void setOnReopen(std::function<void()>) override;
    void setOnTermination(std::function<void()>) override;
    bool isActive() const override;

    GtkApplication* gtkApplication() const { return m_application; }

private:
    static void activated(GApplication*, gpointer self);
    static void opened(GApplication*, GFile**, int count, const char* hint, gpointer self);
    static gboolean terminationSignal(gpointer self);
    static void sessionEnding(GtkApplication*, gpointer self);
    void terminate();
    static gint localOptions(GApplication*, GVariantDict*, gpointer self);
    void launchOnce();

    GtkApplication* m_application { nullptr };
    std::function<void()> m_onLaunch;
    std::function<void(const std::vector<std::string>&)> m_onOpen;
    std::function<void()> m_onReopen;
    std::function<void()> m_onTermination;
    guint m_signalSource { 0 };
    // A quicklist item chosen while no instance was running, carried out once the menus exist.
    std::string m_launchMenuCommand;
    bool m_launched { false };
};

}
