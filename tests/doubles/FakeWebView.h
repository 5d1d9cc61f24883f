#pragma once

#include "platform/WebView.h"
#include "platform/Window.h"

#include <filesystem>
#include <vector>

namespace quillpost {

// A web view whose print runs and script evaluations wait for the test to finish them.
class FakeWebView final : public WebView {
public:
    struct Evaluation {
        std::string script;
        ScriptCompletion completion;
    };

    struct PrintRun {
        PrintDestination destination;
        std::filesystem::path file;
        Completion completion;
    };

    void loadRequest(const std::string& uri) override { requests.push_back(uri); }
    void evaluateScript(const std::string& script) override { scripts.push_back(script); }
    void evaluateScript(const std::string& script, ScriptCompletion completion) override
    {
        scripts.push_back(script);
        evaluations.push_back({ script, std::move(completion) });
    }
    // Answers every evaluation still waiting, with this result or error.
    void answerEvaluations(std::optional<Json> result, const std::string& error = {})
    {
        auto waiting = std::move(evaluations);
        evaluations.clear();
        for (auto& evaluation : waiting)
            evaluation.completion(result, error);
    }
    void callAsyncFunction(const std::string& body, const Json&, ScriptCompletion completion) override
    {
        asyncCalls.push_back({ body, std::move(completion) });
    }
    void print(PrintDestination destination, const std::filesystem::path& file, Completion completion) override
    {
        prints.push_back({ destination, file, std::move(completion) });
    }
    void snapshot(SnapshotCompletion completion) override { snapshots.push_back(std::move(completion)); }
    void setInspectable(bool on) override { inspectable = on; }
    void setPolicies(WebViewPolicies newPolicies) override { policies = std::move(newPolicies); }
    void setOnLoadFinished(std::function<void()>) override { }
    void setOnWebProcessTerminated(std::function<void(const std::string&)>) override { }
    void reload() override { }
    void terminateWebProcess() override { }

    std::vector<std::string> scripts;
    std::vector<std::string> requests;
    std::vector<Evaluation> evaluations;
    std::vector<Evaluation> asyncCalls; // the function's body and its completion
    std::vector<PrintRun> prints;
    std::vector<SnapshotCompletion> snapshots;
    WebViewPolicies policies;
    bool inspectable { false };
};

// A window that shows nothing; closing it runs its callbacks as the real one does.
class FakeWindow final : public Window {
public:
    void addSidebarBackdrop(double, double, double) override { }
    void setContent(WebView&) override { }
    void addDragStrip(double, double) override { }
    WindowButtonSides windowButtonSides() const override { return {}; }
    void present() override { presented = true; }
    void toggleFullScreen() override { }
    WindowGeometry geometry() const override { return {}; }
    void performClose() override
    {
        if (!onCloseRequest || onCloseRequest())
            close();
    }
    void close() override
    {
        if (closed)
            return;
        closed = true;
        if (onClose)
            onClose();
    }
    void setOnClose(std::function<void()> callback) override { onClose = std::move(callback); }
    void setOnCloseRequest(std::function<bool()> callback) override { onCloseRequest = std::move(callback); }
    void setOnFullScreenChanged(std::function<void(bool)>) override { }
    void snapshot(ImageCompletion completion) override { snapshots.push_back(std::move(completion)); }
    std::optional<double> windowButtonsBottom() override { return {}; }
    bool showsSheet() const override { return false; }
    void endSheets() override { }

    std::function<void()> onClose;
    std::function<bool()> onCloseRequest;
    bool closed { false };
    bool presented { false };
    std::vector<ImageCompletion> snapshots;
};

}
