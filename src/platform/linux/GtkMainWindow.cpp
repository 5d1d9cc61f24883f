#include "platform/linux/GtkMainWindow.h"

#include "platform/linux/DragStrip.h"
#include "platform/linux/GtkApplicationHost.h"
#include "platform/linux/WebKitWebViewHost.h"

#include <charconv>
#include <string>
#include <webkit/webkit.h>

namespace quillpost {

std::shared_ptr<Window> Window::create(Application& application, const Options& options)
{
    return std::make_shared<GtkMainWindow>(static_cast<GtkApplicationHost&>(application), options);
}

static std::string channel(double value)
{
    return std::to_string(static_cast<int>(value * 255.0 + 0.5));
}

// CSS wants a dot for decimals whatever the user's locale.
static std::string cssNumber(double value)
{
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::string(buffer, result.ptr);
}

GtkMainWindow::GtkMainWindow(GtkApplicationHost& application, const Options& options)
{
    m_background = options.background;
    m_window = GTK_WINDOW(gtk_application_window_new(application.gtkApplication()));
    g_object_ref(m_window);
    gtk_window_set_title(m_window, options.title.c_str());
    std::string name = options.pageDrawsTitleBar ? "main-window" : "document-window";
    gtk_widget_set_name(GTK_WIDGET(m_window), name.c_str());
    gtk_widget_set_size_request(GTK_WIDGET(m_window), options.minimumWidth, options.minimumHeight);
    gtk_window_set_default_size(m_window, options.geometry.width, options.geometry.height);
    if (options.geometry.maximized)
        gtk_window_maximize(m_window);
    // The menus live on the application: a desktop with a global menu shows them, and their keys
    // work in every window; inside the window a menu bar would sit over the page's own title bar.
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(m_window), FALSE);
    // The window stays alive when closed, so it can be shown again.
    gtk_window_set_hide_on_close(m_window, FALSE);

    // An empty title bar: the page draws its own, and the drag strip carries the window buttons.
    if (options.pageDrawsTitleBar) {
        auto* titlebar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        gtk_widget_set_visible(titlebar, FALSE);
        gtk_window_set_titlebar(m_window, titlebar);
    }

    auto background = options.background;
    std::string css = "window#";
    css.append(name).append(", window#").append(name).append(" > .overlay-root { background-color: rgba(");
    css.append(channel(background.red)).append(", ").append(channel(background.green)).append(", ").append(channel(background.blue));
    css.append(", ").append(cssNumber(background.alpha)).append("); }\n");
    if (options.pageDrawsTitleBar)
        css.append("#sidebar-backdrop { background-color: alpha(#ebe4da, 0.85); }\n#drag-strip windowcontrols.end { margin: 4px 8px 0 0; }\n#drag-strip windowcontrols.start { margin: 4px 0 0 8px; }\n");
    m_style = gtk_css_provider_new();
    gtk_css_provider_load_from_data(m_style, css.c_str(), static_cast<gssize>(css.size()));
    gtk_style_context_add_provider_for_display(gtk_widget_get_display(GTK_WIDGET(m_window)), GTK_STYLE_PROVIDER(m_style),
        GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    m_overlay = gtk_overlay_new();
    gtk_widget_add_css_class(m_overlay, "overlay-root");
    gtk_window_set_child(m_window, m_overlay);

    g_signal_connect(m_window, "close-request", G_CALLBACK(closeRequested), this);
    g_signal_connect(m_window, "notify::fullscreened", G_CALLBACK(fullScreenChanged), this);
}

GtkMainWindow::~GtkMainWindow()
{
    g_signal_handlers_disconnect_by_data(m_window, this);
    gtk_style_context_remove_provider_for_display(gtk_widget_get_display(GTK_WIDGET(m_window)), GTK_STYLE_PROVIDER(m_style));
    g_object_unref(m_style);
    g_object_unref(m_window);
}

void GtkMainWindow::addSidebarBackdrop(double width, double inset, double radius)
{
    auto* backdrop = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_name(backdrop, "sidebar-backdrop");
    gtk_widget_set_halign(backdrop, GTK_ALIGN_START);
    gtk_widget_set_valign(backdrop, GTK_ALIGN_FILL);
    gtk_widget_set_size_request(backdrop, static_cast<int>(width), -1);
    gtk_widget_set_margin_start(backdrop, static_cast<int>(inset));
    gtk_widget_set_margin_top(backdrop, static_cast<int>(inset));
    gtk_widget_set_margin_bottom(backdrop, static_cast<int>(inset));
    if (radius > 0) {
        auto css = "#sidebar-backdrop { border-radius: " + cssNumber(radius) + "px; }";
        auto* provider = gtk_css_provider_new();
        gtk_css_provider_load_from_data(provider, css.c_str(), static_cast<gssize>(css.size()));
        gtk_style_context_add_provider_for_display(gtk_widget_get_display(backdrop), GTK_STYLE_PROVIDER(provider),
            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
        g_object_unref(provider);
    }
    gtk_overlay_set_child(GTK_OVERLAY(m_overlay), backdrop);
}

void GtkMainWindow::setContent(WebView& webView)
{
    auto* widget = static_cast<WebKitWebViewHost&>(webView).widget();
    gtk_widget_set_hexpand(widget, TRUE);
    gtk_widget_set_vexpand(widget, TRUE);
    gtk_overlay_add_overlay(GTK_OVERLAY(m_overlay), widget);
    // The page decides the overlay's size, so the window's minimum size is the page's to keep.
    gtk_overlay_set_measure_overlay(GTK_OVERLAY(m_overlay), widget, TRUE);
}

void GtkMainWindow::addDragStrip(double leading, double height)
{
    m_dragStrip = DragStrip::create(leading, height);
    gtk_overlay_add_overlay(GTK_OVERLAY(m_overlay), m_dragStrip);
}

void GtkMainWindow::present()
{
    gtk_window_present(m_window);
}

void GtkMainWindow::toggleFullScreen()
{
    if (gtk_window_is_fullscreen(m_window))
        gtk_window_unfullscreen(m_window);
    else
        gtk_window_fullscreen(m_window);
}

WindowGeometry GtkMainWindow::geometry() const
{
    WindowGeometry geometry;
    gtk_window_get_default_size(m_window, &geometry.width, &geometry.height);
    geometry.maximized = gtk_window_is_maximized(m_window);
    return geometry;
}

void GtkMainWindow::performClose()
{
    gtk_window_close(m_window);
}

void GtkMainWindow::close()
{
    m_closingWithoutAsking = true;
    gtk_window_close(m_window);
}

void GtkMainWindow::setOnClose(std::function<void()> onClose)
{
    m_onClose = std::move(onClose);
}

void GtkMainWindow::setOnCloseRequest(std::function<bool()> onCloseRequest)
{
    m_onCloseRequest = std::move(onCloseRequest);
}

void GtkMainWindow::setOnFullScreenChanged(std::function<void(bool)> onFullScreenChanged)
{
    m_onFullScreenChanged = std::move(onFullScreenChanged);
}

void GtkMainWindow::fullScreenChanged(GtkWindow* gtkWindow, GParamSpec*, gpointer self)
{
    auto* window = static_cast<GtkMainWindow*>(self);
    bool fullScreen = gtk_window_is_fullscreen(gtkWindow);
    // No title-bar band in full screen: the page has the whole screen.
    if (window->m_dragStrip)
        gtk_widget_set_visible(window->m_dragStrip, !fullScreen);
    if (window->m_onFullScreenChanged)
        window->m_onFullScreenChanged(fullScreen);
}

// The window's content drawn as it is layered: its background, the backdrop, the page (as WebKit
// captures it, since the view's own drawing may be a composited frame the toolkit can't read
// back), then the title-bar band with its buttons.
static std::optional<std::string> renderContent(GtkWidget* overlay, const Color& background, GtkWidget* view, GdkTexture* viewImage)
{
    int width = gtk_widget_get_width(overlay);
    int height = gtk_widget_get_height(overlay);
    auto* native = gtk_widget_get_native(overlay);
    auto* renderer = native ? gtk_native_get_renderer(native) : nullptr;
    if (width <= 0 || height <= 0 || !renderer)
        return std::nullopt;
    auto* drawing = gtk_snapshot_new();
    GdkRGBA color { static_cast<float>(background.red), static_cast<float>(background.green), static_cast<float>(background.blue),
        static_cast<float>(background.alpha) };
    graphene_rect_t all;
    graphene_rect_init(&all, 0, 0, static_cast<float>(width), static_cast<float>(height));
    gtk_snapshot_append_color(drawing, &color, &all);
    for (auto* child = gtk_widget_get_first_child(overlay); child; child = gtk_widget_get_next_sibling(child)) {
        graphene_rect_t bounds;
        if (!gtk_widget_get_visible(child) || !gtk_widget_compute_bounds(child, overlay, &bounds))
            continue;
        gtk_snapshot_save(drawing);
        graphene_point_t origin;
        graphene_point_init(&origin, bounds.origin.x, bounds.origin.y);
        gtk_snapshot_translate(drawing, &origin);
        if (child == view && viewImage) {
            graphene_rect_t area;
            graphene_rect_init(&area, 0, 0, bounds.size.width, bounds.size.height);
            gtk_snapshot_append_texture(drawing, viewImage, &area);
        } else {
            g_autoptr(GdkPaintable) paintable = gtk_widget_paintable_new(child);
            gdk_paintable_snapshot(paintable, drawing, bounds.size.width, bounds.size.height);
        }
        gtk_snapshot_restore(drawing);
    }
    auto* node = gtk_snapshot_free_to_node(drawing);
    if (!node)
        return std::nullopt;
    g_autoptr(GdkTexture) texture = gsk_renderer_render_texture(renderer, node, &all);
    gsk_render_node_unref(node);
    g_autoptr(GBytes) png = texture ? gdk_texture_save_to_png_bytes(texture) : nullptr;
    if (!png)
        return std::nullopt;
    gsize size = 0;
    auto* data = static_cast<const char*>(g_bytes_get_data(png, &size));
    return std::string(data, size);
}

void GtkMainWindow::snapshot(ImageCompletion completion)
{
    GtkWidget* view = nullptr;
    for (auto* child = gtk_widget_get_first_child(m_overlay); child && !view; child = gtk_widget_get_next_sibling(child)) {
        if (WEBKIT_IS_WEB_VIEW(child))
            view = child;
    }
    auto finish = [completion = std::move(completion)](std::optional<std::string> png) {
        if (png)
            completion(std::move(png), {});
        else
            completion(std::nullopt, "The window isn't shown, so there is nothing to draw.");
    };
    if (!view) {
        finish(renderContent(m_overlay, m_background, nullptr, nullptr));
        return;
    }
    struct Pending {
        GtkWidget* overlay;
        Color background;
        std::function<void(std::optional<std::string>)> finish;
    };
    auto* pending = new Pending { GTK_WIDGET(g_object_ref(m_overlay)), m_background, std::move(finish) };
    webkit_web_view_get_snapshot(WEBKIT_WEB_VIEW(view), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_TRANSPARENT_BACKGROUND, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending> call(static_cast<Pending*>(data));
            g_autoptr(GdkTexture) image = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
            call->finish(renderContent(call->overlay, call->background, GTK_WIDGET(source), image));
            g_object_unref(call->overlay);
        },
        pending);
}

static GtkWidget* descendantWithClass(GtkWidget* widget, const char* cssClass)
{
    if (gtk_widget_has_css_class(widget, cssClass))
        return widget;
    for (auto* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
        if (auto* found = descendantWithClass(child, cssClass))
            return found;
    }
    return nullptr;
}

WindowButtonSides GtkMainWindow::windowButtonSides() const
{
    g_autofree char* layout = nullptr;
    g_object_get(gtk_settings_get_default(), "gtk-decoration-layout", &layout, nullptr);
    return windowButtonSidesOf(layout ? layout : "");
}

std::optional<double> GtkMainWindow::windowButtonsBottom()
{
    if (!m_dragStrip || !gtk_widget_get_visible(m_dragStrip))
        return std::nullopt;
    // The zoom button when the desktop's button layout has one, else the end of the window buttons.
    GtkWidget* button = nullptr;
    for (const char* cssClass : { "maximize", "close", "windowcontrols" }) {
        if ((button = descendantWithClass(m_dragStrip, cssClass)))
            break;
    }
    graphene_rect_t bounds;
    if (!button || !gtk_widget_compute_bounds(button, m_overlay, &bounds))
        return std::nullopt;
    return static_cast<double>(bounds.origin.y + bounds.size.height);
}

std::vector<GtkWindow*> GtkMainWindow::sheets() const
{
    std::vector<GtkWindow*> found;
    GList* toplevels = gtk_window_list_toplevels();
    for (auto* item = toplevels; item; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (gtk_window_get_transient_for(window) == m_window && gtk_window_get_modal(window) && gtk_widget_get_visible(GTK_WIDGET(window)))
            found.push_back(window);
    }
    g_list_free(toplevels);
    return found;
}

bool GtkMainWindow::showsSheet() const
{
    return !sheets().empty();
}

void GtkMainWindow::endSheets()
{
    for (auto* sheet : sheets()) {
        // A dialog answers its asker as if closed without a choice; any other window just closes.
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        if (GTK_IS_DIALOG(sheet))
            gtk_dialog_response(GTK_DIALOG(sheet), GTK_RESPONSE_DELETE_EVENT);
        else
            gtk_window_close(sheet);
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
}

gboolean GtkMainWindow::closeRequested(GtkWindow*, gpointer self)
{
    auto* window = static_cast<GtkMainWindow*>(self);
    if (!window->m_closingWithoutAsking && window->m_onCloseRequest && !window->m_onCloseRequest())
        return TRUE;
    // The callback may drop the last reference to this object.
    auto onClose = window->m_onClose;
    if (onClose)
        onClose();
    return FALSE;
}

}
