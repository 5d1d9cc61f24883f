#pragma once

#include "platform/WindowButtonSides.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillpost {

class Application;
class WebView;

struct Color {
    double red { 0 };
    double green { 0 };
    double blue { 0 };
    double alpha { 1 };
};

struct WindowGeometry {
    int width { 0 };
    int height { 0 };
    bool maximized { false };
};

// A top-level window whose content is layered: backdrop first, then the page, then the drag strip.
class Window {
public:
    struct Options {
        std::string title;
        WindowGeometry geometry;
        int minimumWidth { 0 };
        int minimumHeight { 0 };
        Color background;
        // The main window's page draws its own title bar; other windows get the system's.
        bool pageDrawsTitleBar { true };
    };

    virtual ~Window() = default;

    static std::shared_ptr<Window> create(Application&, const Options&);

    // The translucent band behind the page's sidebar, at the window's leading edge.
    virtual void addSidebarBackdrop(double width, double inset, double radius) = 0;
    // The page, filling the window above what was added before.
    virtual void setContent(WebView&) = 0;
    // The title-bar band that drags the window and zooms it on a double click.
    virtual void addDragStrip(double leading, double height) = 0;

    virtual void present() = 0;
    // Closes the window as its close button would, asking onCloseRequest first.
    virtual void performClose() = 0;
    // Closes it without asking.
    virtual void close() = 0;
    virtual void toggleFullScreen() = 0;
    virtual WindowGeometry geometry() const = 0;

    // Called as the window closes, while its geometry can still be read.
    virtual void setOnClose(std::function<void()>) = 0;
    // Asked when the user (or performClose) tries to close the window: false keeps it open.
    virtual void setOnCloseRequest(std::function<bool()>) = 0;
    // The window went into full screen (true) or came out of it. In full screen the drag strip,
    // the title-bar band, is gone; it is back when the window leaves full screen.
    virtual void setOnFullScreenChanged(std::function<void(bool fullScreen)>) = 0;

    // What the self-test measures and looks at.
    using ImageCompletion = std::function<void(std::optional<std::string> png, std::string errorMessage)>;
    // An image (PNG bytes) of the window's content as it is drawn now.
    virtual void snapshot(ImageCompletion) = 0;
    // The ends of the title bar that hold window buttons, as the desktop lays them out.
    virtual WindowButtonSides windowButtonSides() const = 0;
    // How far below the top of the content the window buttons end; nothing when none are shown.
    virtual std::optional<double> windowButtonsBottom() = 0;
    // Whether a modal dialog is open on this window, and closing such dialogs without an answer.
    virtual bool showsSheet() const = 0;
    virtual void endSheets() = 0;
};

}
