#include "platform/WindowButtonSides.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

TEST(WindowButtonSides, FollowTheDesktopsLayout)
{
    struct Case {
        const char* layout;
        bool start;
        bool end;
    };
    const Case cases[] = {
        { "icon:minimize,maximize,close", true, true },
        { "appmenu:minimize,maximize,close", false, true },
        { ":close", false, true },
        { "close,minimize,maximize:", true, false },
        { "close:", true, false },
        { "close", true, false },
        { "close:close", true, true },
        { "", false, false },
        { ":", false, false },
        { "appmenu:", false, false },
        { "closer,maximized:iconic", false, false },
        { "spacer,close:menu", true, false },
    };
    for (const auto& c : cases) {
        auto sides = windowButtonSidesOf(c.layout);
        EXPECT_EQ(sides.start, c.start) << c.layout;
        EXPECT_EQ(sides.end, c.end) << c.layout;
    }
}

}
}
