#include "app/WindowState.h"

#include "common/Files.h"
#include "common/Json.h"
#include "store/Store.h"

#include <cstdlib>

namespace quillpost {

WindowState::WindowState(std::filesystem::path file)
    : m_file(std::move(file))
{
}

std::filesystem::path WindowState::defaultFile()
{
    std::filesystem::path stateHome;
    if (auto* xdgStateHome = std::getenv("XDG_STATE_HOME"); xdgStateHome && *xdgStateHome == '/')
        stateHome = xdgStateHome;
    else if (auto* home = std::getenv("HOME"); home && *home)
        stateHome = std::filesystem::path(home) / ".local" / "state";
    else
        stateHome = std::filesystem::temp_directory_path();
    return stateHome / "Quillpost" / "window-state.json";
}

// The file is two levels deep. A much deeper one is damage, and is read as such: copying or
// writing a tree recurses once per level, so an absurdly deep file would overflow the stack.
constexpr int deepestLevel = 32;

static Json readState(const std::filesystem::path& file)
{
    auto text = readFile(file);
    if (!text)
        return Json::object();
    bool tooDeep = false;
    auto state = Json::parse(*text, [&tooDeep](int depth, Json::parse_event_t, Json&) {
        tooDeep = tooDeep || depth > deepestLevel;
        return !tooDeep;
    }, false);
    if (tooDeep || !state.is_object())
        return Json::object();
    return state;
}

std::optional<WindowGeometry> WindowState::geometry(const std::string& name) const
{
    auto state = readState(m_file);
    auto entry = state.find(name);
    if (entry == state.end() || !entry->is_object())
        return std::nullopt;
    auto width = entry->find("width");
    auto height = entry->find("height");
    if (width == entry->end() || height == entry->end() || !width->is_number_integer() || !height->is_number_integer())
        return std::nullopt;
    // Sizes from a damaged or foreign file are not trusted beyond what a screen could show.
    auto w = width->get<std::int64_t>();
    auto h = height->get<std::int64_t>();
    if (w <= 0 || h <= 0 || w > 32768 || h > 32768)
        return std::nullopt;
    auto maximized = entry->find("maximized");
    return WindowGeometry { static_cast<int>(w), static_cast<int>(h), maximized != entry->end() && maximized->is_boolean() && maximized->get<bool>() };
}

void WindowState::save(const std::string& name, const WindowGeometry& geometry)
{
    auto state = readState(m_file);
    state[name] = { { "width", geometry.width }, { "height", geometry.height }, { "maximized", geometry.maximized } };
    try {
        Store::atomicWrite(m_file, state.dump(4));
    } catch (const std::exception&) {
    }
}

}
