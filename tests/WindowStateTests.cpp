#include "app/WindowState.h"
#include "doubles/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

TEST(WindowState, RemembersEachWindowByNameAndFallsBackOnDamagedImplausibleOrAbsurdlyDeepEntries)
{
    TemporaryFolder folder { "quillpost-window" };
    const auto file = folder / "state" / "window-state.json";
    EXPECT_FALSE(WindowState(file).geometry("QuillpostMain"));
    WindowState(file).save("Editor", { 800, 600, false });
    WindowState(file).save("QuillpostMain", { 1280, 720, true });
    auto main = WindowState(file).geometry("QuillpostMain");
    ASSERT_TRUE(main);
    EXPECT_EQ(std::tuple(main->width, main->height, main->maximized), std::tuple(1280, 720, true));
    EXPECT_EQ(WindowState(file).geometry("Editor")->width, 800);

    // Copying or writing a tree this deep recursed once per level and overflowed the stack, at
    // every start, until the file was removed by hand.
    constexpr size_t depth = 500000;
    const std::string deep = R"({"QuillpostMain": {"width": 900, "height": 700}, "Other": )" + std::string(depth, '[') + std::string(depth, ']') + "}";
    for (const std::string& text : { std::string("not json"), std::string("[1,2]"), std::string(R"({"QuillpostMain": "big"})"),
             std::string(R"({"QuillpostMain": {"width": -5, "height": 700}})"), std::string(R"({"QuillpostMain": {"width": 99999999, "height": 700}})"),
             std::string(R"({"QuillpostMain": {"width": 1.5, "height": 700}})"), deep }) {
        writeText(file, text);
        EXPECT_FALSE(WindowState(file).geometry("QuillpostMain")) << text.substr(0, 80);
    }
    // Saving over a damaged file starts it afresh instead of failing.
    WindowState(file).save("QuillpostMain", { 1000, 700, false });
    EXPECT_EQ(WindowState(file).geometry("QuillpostMain")->width, 1000);
    EXPECT_LT(readText(file).size(), 1000u);
}

}
}
