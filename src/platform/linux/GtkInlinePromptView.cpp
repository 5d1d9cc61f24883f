#include "platform/InlinePromptView.h"

#include "platform/linux/GtkMainWindow.h"
#include "platform/linux/WebKitWebViewHost.h"

#include <algorithm>

namespace quillpost {

namespace {

// GTK keeps margins in 16 bits.
int coordinate(double value)
{
    return static_cast<int>(std::clamp(value, 0.0, 32767.0));
}

int iconSize(InlinePromptView::ControlSize size)
{
    switch (size) {
    case InlinePromptView::ControlSize::Large:
        return 64;
    case InlinePromptView::ControlSize::Regular:
        return 48;
    case InlinePromptView::ControlSize::Small:
        return 32;
    case InlinePromptView::ControlSize::Mini:
        break;
    }
    return 16;
}

// A fingerprint mark in the window's overlay, above the web view, which fills the overlay, so the
// web view's coordinates are the overlay's.
class GtkInlinePromptView final : public InlinePromptView {
public:
    GtkInlinePromptView(GtkMainWindow& window, WebKitWebViewHost& webView)
        : m_overlay(window.overlay())
        , m_webView(webView.widget())
    {
        g_object_ref(m_overlay);
        g_object_ref(m_webView);
    }

    ~GtkInlinePromptView() override
    {
        hide();
        g_object_unref(m_webView);
        g_object_unref(m_overlay);
    }

    void show(const ViewFrame& frame, ControlSize size) override
    {
        hide();
        m_box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_widget_set_name(m_box, "fingerprint-prompt");
        gtk_widget_set_overflow(m_box, GTK_OVERFLOW_HIDDEN);
        gtk_widget_set_halign(m_box, GTK_ALIGN_START);
        gtk_widget_set_valign(m_box, GTK_ALIGN_START);
        gtk_widget_set_tooltip_text(m_box, "Touch the fingerprint reader to unlock your client data");
        auto* image = gtk_image_new_from_icon_name("auth-fingerprint-symbolic");
        gtk_image_set_pixel_size(GTK_IMAGE(image), std::max(1, std::min({ iconSize(size), coordinate(frame.width), coordinate(frame.height) })));
        gtk_widget_set_halign(image, GTK_ALIGN_CENTER);
        gtk_widget_set_valign(image, GTK_ALIGN_CENTER);
        gtk_widget_set_hexpand(image, TRUE);
        gtk_widget_set_vexpand(image, TRUE);
        gtk_box_append(GTK_BOX(m_box), image);
        move(frame);
        gtk_overlay_add_overlay(m_overlay, m_box);
    }

    void move(const ViewFrame& frame) override
    {
        if (!m_box)
            return;
        gtk_widget_set_margin_start(m_box, coordinate(frame.x));
        gtk_widget_set_margin_top(m_box, coordinate(frame.y));
        gtk_widget_set_size_request(m_box, std::max(1, coordinate(frame.width)), std::max(1, coordinate(frame.height)));
    }

    void hide() override
    {
        if (!m_box)
            return;
        gtk_overlay_remove_overlay(m_overlay, m_box);
        m_box = nullptr;
    }

    double pageZoom() const override { return webkit_web_view_get_zoom_level(WEBKIT_WEB_VIEW(m_webView)); }
    bool flipped() const override { return true; }
    double boundsHeight() const override { return gtk_widget_get_height(m_webView); }

private:
    GtkOverlay* m_overlay;
    GtkWidget* m_webView;
    GtkWidget* m_box { nullptr };
};

}

std::shared_ptr<InlinePromptView> InlinePromptView::create(Window& window, WebView& webView)
{
    return std::make_shared<GtkInlinePromptView>(static_cast<GtkMainWindow&>(window), static_cast<WebKitWebViewHost&>(webView));
}

}
