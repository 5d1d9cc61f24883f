#include "secrets/InlineFrame.h"

#include <algorithm>
#include <cmath>

namespace quillpost {

std::optional<ViewFrame> inlineFrame(const Json& rect, double zoom, bool flipped, double boundsHeight)
{
    if (!rect.is_object())
        return std::nullopt;
    auto number = [&](const char* key) -> std::optional<double> {
        auto it = rect.find(key);
        if (it == rect.end() || !it->is_number())
            return std::nullopt;
        return it->get<double>();
    };
    auto x = number("x");
    auto y = number("y");
    auto w = number("w");
    auto h = number("h");
    if (!x || !y || !w || !h || !(*w > 0) || !(*h > 0))
        return std::nullopt;
    if (!std::isfinite(zoom) || zoom <= 0)
        zoom = 1;
    ViewFrame frame { *x * zoom, flipped ? *y * zoom : boundsHeight - (*y + *h) * zoom, *w * zoom, *h * zoom };
    // Numbers past what a double keeps finite (1e308 × a zoom above 1) make no rectangle.
    if (!std::isfinite(frame.x) || !std::isfinite(frame.y) || !std::isfinite(frame.width) || !std::isfinite(frame.height))
        return std::nullopt;
    return frame;
}

InlinePromptView::ControlSize controlSizeFor(const ViewFrame& frame)
{
    const double side = std::min(frame.width, frame.height);
    if (side >= 88)
        return InlinePromptView::ControlSize::Large;
    if (side >= 60)
        return InlinePromptView::ControlSize::Regular;
    if (side >= 40)
        return InlinePromptView::ControlSize::Small;
    return InlinePromptView::ControlSize::Mini;
}

}
