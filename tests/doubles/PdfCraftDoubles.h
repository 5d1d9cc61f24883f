#pragma once

#include "doubles/DesktopDoubles.h"
#include "doubles/FakeWebView.h"
#include "pdfcraft/PdfCraft.h"

#include <memory>
#include <string>
#include <vector>

namespace quillpost {

struct FakeRuleList final : ContentRuleList {
    explicit FakeRuleList(std::string identifier)
        : name(std::move(identifier))
    {
    }
    const std::string& identifier() const override { return name; }
    std::string name;
};

// The editor's windows, web views and rule compiler, keeping everything they made for the test.
struct EditorDoubles {
    std::vector<std::shared_ptr<FakeWindow>> windows;
    std::vector<Window::Options> windowOptions;
    std::vector<std::shared_ptr<FakeWebView>> webViews;
    std::vector<WebViewConfiguration> configurations;
    std::vector<std::string> compiledSources;
    bool compileFails { false };

    PdfCraftWindow::Services windowServices(Panels& panels, Workspace& workspace, std::optional<std::filesystem::path> documents = {})
    {
        return {
            .createWindow = [this](const Window::Options& options) {
                windowOptions.push_back(options);
                windows.push_back(std::make_shared<FakeWindow>());
                return windows.back();
            },
            .createWebView = [this](WebViewConfiguration configuration) {
                configurations.push_back(configuration);
                webViews.push_back(std::make_shared<FakeWebView>());
                return webViews.back();
            },
            .panels = panels,
            .workspace = workspace,
            .documentsFolder = std::move(documents),
        };
    }

    std::function<void(const std::string&, const std::string&, PdfCraft::RulesCompletion)> compiler()
    {
        return [this](const std::string& identifier, const std::string& source, PdfCraft::RulesCompletion completion) {
            compiledSources.push_back(source);
            if (compileFails)
                completion(nullptr, "compile failed");
            else
                completion(std::make_shared<FakeRuleList>(identifier), {});
        };
    }
};

}
