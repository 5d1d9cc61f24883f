#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quillpost {

// The desktop around the program: the file manager, default applications and the Trash.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Shows the file selected in the file manager, or opens its folder when the file manager can't select it.
    virtual void revealFile(const std::filesystem::path&) = 0;

    // Opens a file or folder with its default application; false when none could be started.
    virtual bool openFile(const std::filesystem::path&) = 0;

    // Opens a link (mailto:, https:) with the application that handles its scheme.
    virtual bool openUri(const std::string&) = 0;

    // Moves the item to the Trash of its volume. Never deletes: a volume without a Trash answers false.
    virtual bool moveToTrash(const std::filesystem::path&) = 0;

    // The user's Downloads folder, when there is one.
    virtual std::optional<std::filesystem::path> downloadsFolder() const = 0;

    static Workspace& shared();
};

}
