#pragma once

#include "platform/Panels.h"
#include "platform/ProcessRunner.h"
#include "platform/Workspace.h"
#include "doubles/FakeProcessRunner.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillpost {

// Choosers and questions that keep their completion until the test answers, as a user would.
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

    void chooseSaveLocation(Window* parent, const std::string& suggestedName, const std::optional<std::string>& startFolder,
        std::function<void(std::optional<std::string>)> completion) override
    {
        lastParent = parent;
        titles.push_back(suggestedName);
        saveStartFolder = startFolder;
        pending = std::move(completion);
    }

    void chooseFiles(Window*, bool, std::function<void(std::vector<std::string>)>) override { }

    void ask(Window* parent, const Question& question, std::function<void(std::optional<size_t>)> completion) override
    {
        lastParent = parent;
        questions.push_back(question);
        pendingQuestion = std::move(completion);
    }

    void choose(std::optional<size_t> button)
    {
        auto completion = std::move(pendingQuestion);
        pendingQuestion = nullptr;
        completion(button);
    }

    Window* lastParent { nullptr };
    std::vector<std::string> titles;
    std::function<void(std::optional<std::string>)> pending;
    std::optional<std::string> saveStartFolder;
    std::vector<Question> questions;
    std::function<void(std::optional<size_t>)> pendingQuestion;
};

// Records what would have been opened, shown or trashed. Trashing moves the item into a folder
// of the test's choosing, so a test sees that nothing was deleted.
class FakeWorkspace final : public Workspace {
public:
    void revealFile(const std::filesystem::path& path) override { revealed.push_back(path); }
    bool openFile(const std::filesystem::path& path) override
    {
        opened.push_back(path);
        return true;
    }
    bool openUri(const std::string& uri) override
    {
        uris.push_back(uri);
        return true;
    }
    bool moveToTrash(const std::filesystem::path& path) override
    {
        if (!trashWorks || trash.empty())
            return false;
        std::error_code error;
        std::filesystem::create_directories(trash, error);
        std::filesystem::rename(path, trash / path.filename(), error);
        if (error)
            return false;
        trashed.push_back(path);
        return true;
    }

    std::optional<std::filesystem::path> downloadsFolder() const override { return downloads; }

    std::optional<std::filesystem::path> downloads;
    std::vector<std::filesystem::path> revealed;
    std::vector<std::filesystem::path> opened;
    std::vector<std::string> uris;
    std::vector<std::filesystem::path> trashed;
    std::filesystem::path trash; // empty: a volume without a Trash
    bool trashWorks { true };
};

}
