#pragma once

#include <filesystem>

namespace quillpost {

// The desktop around the program: the file manager and default applications.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Shows the file selected in the file manager, or opens its folder when the file manager can't select it.
    virtual void revealFile(const std::filesystem::path&) = 0;

    static Workspace& shared();
};

}
