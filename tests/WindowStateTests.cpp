#include "app/WindowState.h"
#include "doubles/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

class WindowStateTest : public testing::Test {
protected:
    TemporaryFolder m_folder { "quillpost-window" };
    std::filesystem::path m_file { m_folder / "state" / "window-state.json" };
};

TEST_F(WindowStateTest, RemembersSizeAndMaximizedStateByNameAndKeepsOtherEntries)
{
    WindowState state(m_file);
    EXPECT_FALSE(state.geometry("QuillpostMain"));

    state.save("Editor", { 800, 600, false });
    state.save("QuillpostMain", { 1280, 720, true });
    auto main = WindowState(m_file).geometry("QuillpostMain");
    ASSERT_TRUE(main);
    EXPECT_EQ(main->width, 1280);
    EXPECT_EQ(main->height, 720);
    EXPECT_TRUE(main->maximized);
    EXPECT_EQ(WindowState(m_file).geometry("Editor")->width, 800);
}

TEST_F(WindowStateTest, DamagedImplausibleOrAbsurdlyDeepEntriesFallBackToTheDefaultSize)
{
    // Copying or writing a tree this deep recursed once per level and overflowed the stack, at
    // every start, until the file was removed by hand.
    constexpr size_t depth = 500000;
    const std::string deep = R"({"QuillpostMain": {"width": 900, "height": 700}, "Other": )" + std::string(depth, '[') + std::string(depth, ']') + "}";
    for (const std::string& text : { std::string("not json"), std::string("[1,2]"), std::string(R"({"QuillpostMain": "big"})"),
             std::string(R"({"QuillpostMain": {"width": -5, "height": 700}})"), std::string(R"({"QuillpostMain": {"width": 99999999, "height": 700}})"),
             std::string(R"({"QuillpostMain": {"width": 1.5, "height": 700}})"), deep }) {
        writeText(m_file, text);
        EXPECT_FALSE(WindowState(m_file).geometry("QuillpostMain")) << text.substr(0, 80);
    }

    // Saving over a damaged file starts it afresh instead of failing.
    WindowState(m_file).save("QuillpostMain", { 1000, 700, false });
    EXPECT_EQ(WindowState(m_file).geometry("QuillpostMain")->width, 1000);
    EXPECT_LT(readText(m_file).size(), 1000u);
}

}
}
