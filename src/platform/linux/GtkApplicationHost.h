#pragma once

#include "platform/Application.h"

#include <gtk/gtk.h>

namespace quillpost {

// The GtkApplication behind Application. Windows of the program are added to it.
class GtkApplicationHost final : public Application {
public:
    explicit GtkApplicationHost(const std::string& identifier);
    ~GtkApplicationHost() override;

    int run(int argc, char** argv, std::function<void()> onLaunch) override;
    void setAppearance(Appearance) override;
    void quit() override;

    GtkApplication* gtkApplication() const { return m_application; }

private:
    static void activated(GApplication*, gpointer self);

    GtkApplication* m_application { nullptr };
    std::function<void()> m_onLaunch;
    bool m_launched { false };
};

}
