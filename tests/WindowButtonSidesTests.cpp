#include "platform/WindowButtonSides.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

TEST(WindowButtonSides, FollowTheDesktopsLayout)
{
    const std::tuple<const char*, bool, bool> cases[] = {
        { "icon:minimize,maximize,close", true, true }, { "appmenu:minimize,maximize,close", false, true }, { ":close", false, true },
        { "close,minimize,maximize:", true, false }, { "close:", true, false }, { "close", true, false }, { "close:close", true, true },
        { "", false, false }, { ":", false, false }, { "appmenu:", false, false }, { "closer,maximized:iconic", false, false },
        { "spacer,close:menu", true, false },
    };
    for (auto [layout, start, end] : cases) {
        auto sides = windowButtonSidesOf(layout);
        EXPECT_EQ(std::pair(sides.start, sides.end), std::pair(start, end)) << layout;
    }
}

}
}
