// The window-state file: sizes read from it are ones a screen can show, and saving one window's
// state over whatever the file held writes a file that reads back.
#include "FuzzCheck.h"

#include "app/WindowState.h"
#include "common/Json.h"
#include "doubles/TemporaryFolder.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace quillpost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TemporaryFolder folder("quillpost-fuzz-window-state");
    const auto file = folder / "window-state.json";
    writeText(file, std::string_view(reinterpret_cast<const char*>(data), size));

    WindowState state(file);
    for (const char* name : { "main", "pdfcraft", "", "width" }) {
        const auto geometry = state.geometry(name);
        if (!geometry)
            continue;
        FUZZ_CHECK(geometry->width > 0 && geometry->width <= 32768);
        FUZZ_CHECK(geometry->height > 0 && geometry->height <= 32768);
    }

    const WindowGeometry saved { 1024, 700, true };
    state.save("main", saved);
    const Json written = Json::parse(readText(file), nullptr, false);
    FUZZ_CHECK(written.is_object());
    const auto reread = state.geometry("main");
    FUZZ_CHECK(reread && reread->width == saved.width && reread->height == saved.height && reread->maximized);
    return 0;
}
