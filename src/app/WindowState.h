#pragma once

#include "platform/Window.h"

#include <filesystem>
#include <optional>
#include <string>

namespace quillpost {

// Remembers window sizes and maximized states by name in a small JSON file. GTK leaves window
// placement to the window manager, so only the size and the maximized state are kept.
class WindowState {
public:
    explicit WindowState(std::filesystem::path file);

    // The state file in $XDG_STATE_HOME (else ~/.local/state).
    static std::filesystem::path defaultFile();

    std::optional<WindowGeometry> geometry(const std::string& name) const;
    // Writes the file at once; a failure only means the next start uses the default size.
    void save(const std::string& name, const WindowGeometry&);

private:
    std::filesystem::path m_file;
};

}
