#pragma once

#include <memory>

namespace quillpost {

class WebView;
class Window;

// A rectangle in the web view's coordinates, in device-independent pixels.
struct ViewFrame {
    double x { 0 };
    double y { 0 };
    double width { 0 };
    double height { 0 };
};

// The fingerprint mark drawn natively above the page, where the page asks for it.
class InlinePromptView {
public:
    enum class ControlSize { Mini, Small, Regular, Large };

    virtual ~InlinePromptView() = default;

    virtual void show(const ViewFrame&, ControlSize) = 0;
    virtual void move(const ViewFrame&) = 0;
    virtual void hide() = 0;

    // What turns page pixels into view coordinates.
    virtual double pageZoom() const = 0;
    // True when y grows downwards, as in GTK.
    virtual bool flipped() const = 0;
    virtual double boundsHeight() const = 0;

    static std::shared_ptr<InlinePromptView> create(Window&, WebView&);
};

}
