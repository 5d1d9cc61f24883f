#pragma once

#include "platform/Window.h"

#include <gtk/gtk.h>
#include <vector>

namespace quillpost {

class GtkApplicationHost;

// A GtkApplicationWindow, with a title bar drawn by the page (the main window) or the system's.
// Its content is an overlay, so the backdrop, the page and the drag strip stack in the order they
// are added.
class GtkMainWindow final : public Window {
public:
    GtkMainWindow(GtkApplicationHost&, const Options&);
    ~GtkMainWindow() override;

    void addSidebarBackdrop(double width, double inset, double radius) override;
    void setContent(WebView&) override;
    void addDragStrip(double leading, double height) override;
    void present() override;
    void toggleFullScreen() override;
    WindowGeometry geometry() const override;
    void performClose() override;
    void close() override;
    void setOnClose(std::function<void()>) override;
    void setOnCloseRequest(std::function<bool()>) override;
    void setOnFullScreenChanged(std::function<void(bool)>) override;
    void snapshot(ImageCompletion) override;
    WindowButtonSides windowButtonSides() const override;
    std::optional<double> windowButtonsBottom() override;
    bool showsSheet() const override;
    void endSheets() override;

    GtkWindow* gtkWindow() const { return m_window; }
    // Where widgets drawn above the page go.
    GtkOverlay* overlay() const { return GTK_OVERLAY(m_overlay); }

private:
    static gboolean closeRequested(GtkWindow*, gpointer self);
    static void fullScreenChanged(GtkWindow*, GParamSpec*, gpointer self);
    std::vector<GtkWindow*> sheets() const;

    GtkWindow* m_window { nullptr };
    GtkWidget* m_overlay { nullptr };
    GtkCssProvider* m_style { nullptr };
    Color m_background;
    std::function<void()> m_onClose;
    std::function<bool()> m_onCloseRequest;
    std::function<void(bool)> m_onFullScreenChanged;
    GtkWidget* m_dragStrip { nullptr };
    bool m_closingWithoutAsking { false };
};

}
