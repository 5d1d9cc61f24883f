#pragma once

#include "platform/Panels.h"
#include "platform/Workspace.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillpost {

// A folder chooser that keeps its completion until the test answers it, as a user would.
class FakePanels final : public Panels {
public:
    void chooseFolder(Window* parent, const std::string& title, std::function<void(std::optional<std::string>)> completion) override
    {
        lastParent = parent;
        titles.push_back(title);
        pending = std::move(completion);
    }

    void answer(std::optional<std::string> path)
    {
        auto completion = std::move(pending);
        pending = nullptr;
        completion(std::move(path));
    }

    Window* lastParent { nullptr };
    std::vector<std::string> titles;
    std::function<void(std::optional<std::string>)> pending;
};

class FakeWorkspace final : public Workspace {
public:
    void revealFile(const std::filesystem::path& path) override { revealed.push_back(path); }
    bool openFile(const std::filesystem::path& path) override
    {
        opened.push_back(path);
        return true;
    }
    bool moveToTrash(const std::filesystem::path& path) override
    {
        trashed.push_back(path);
        std::error_code error;
        return trashWorks && std::filesystem::remove(path, error);
    }

    std::vector<std::filesystem::path> revealed;
    std::vector<std::filesystem::path> opened;
    std::vector<std::filesystem::path> trashed;
    bool trashWorks { true };
};

}
