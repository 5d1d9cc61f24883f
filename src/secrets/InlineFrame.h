#pragma once

#include "common/Json.h"
#include "platform/InlinePromptView.h"

#include <optional>

namespace quillpost {

// The page's rectangle {"x", "y", "w", "h"} (CSS pixels from the web view's top-left corner, y
// downwards) in view coordinates; nothing unless all four are numbers and w and h are above 0.
std::optional<ViewFrame> inlineFrame(const Json& rect, double zoom, bool flipped, double boundsHeight);

// The fingerprint mark's size for a frame, by its smaller side.
InlinePromptView::ControlSize controlSizeFor(const ViewFrame&);

}
