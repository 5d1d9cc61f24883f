#pragma once

#include "common/Json.h"
#include "pdfcraft/PdfCraftRelease.h"
#include "pdfcraft/PdfCraftScheme.h"
#include "pdfcraft/PdfCraftWindow.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillpost {

class Application;
class ContentRuleList;
class HttpClient;
class ProcessRunner;
class Store;

// The PDF editor host: editor windows and the documents handed to them, which copy of the editor
// is in use, and its update, start-up test and rollback.
class PdfCraft {
public:
    using RulesCompletion = std::function<void(std::shared_ptr<ContentRuleList>, std::string errorMessage)>;
    using Progress = std::function<void(const Json&)>;

    struct Services {
        Store& store;
        MainQueue& mainQueue;
        Clock& clock;
        HttpClient& http;
        ProcessRunner& processes;
        PdfCraftWindow::Services windows;
        // Compiles the offline rule list; the completion runs on the main thread.
        std::function<void(const std::string& identifier, const std::string& source, RulesCompletion)> compileRules;
        // The editor as shipped with the program.
        std::filesystem::path builtInSite;
        // The editor's latest-release query.
        std::string releasesURL;
        // The system log.
        std::function<void(const std::string&)> log {};
    };

    static constexpr const char* rulesIdentifier = "quillpost-pdfcraft-offline";
    static constexpr const char* rulesSource
        = R"([{"trigger":{"url-filter":".*"},"action":{"type":"block"}},)"
          R"({"trigger":{"url-filter":"^pdfcraft:"},"action":{"type":"ignore-previous-rules"}},)"
          R"({"trigger":{"url-filter":"^blob:"},"action":{"type":"ignore-previous-rules"}},)"
          R"({"trigger":{"url-filter":"^data:"},"action":{"type":"ignore-previous-rules"}},)"
          R"({"trigger":{"url-filter":"^about:"},"action":{"type":"ignore-previous-rules"}}])";
    static constexpr auto documentLifetime = std::chrono::seconds(600);
    static constexpr auto closeAllWait = std::chrono::milliseconds(800);
    // Downloads stop past this size rather than fill the disk.
    static constexpr std::size_t maximumDownloadBytes = 256u * 1024 * 1024;

    static PdfCraft& shared();
    // The application editor windows belong to; set before the first window opens.
    static void setApplication(Application&);

    explicit PdfCraft(Services);
    ~PdfCraft();

    PdfCraft(const PdfCraft&) = delete;
    PdfCraft& operator=(const PdfCraft&) = delete;

    // Windows and documents.
    bool open(std::optional<std::string> bytes, const std::string& name);
    void windowClosed(PdfCraftWindow&);
    void closeAll(std::function<void(int stillOpen)> completion);
    // Before the program quits: closes the windows one after the other, each asking about its
    // unsaved changes, and stops at the first the user keeps. allClosed is false then.
    void closeBeforeQuit(std::function<void(bool allClosed)> completion);
    void withRules(std::function<void(std::shared_ptr<ContentRuleList>)>);
    const PdfCraftScheme::Registry& docs() const { return m_docs; }
    const std::vector<std::shared_ptr<PdfCraftWindow>>& windows() const { return m_windows; }

    // Which editor is in use.
    const std::filesystem::path& builtInSite() const { return m_services.builtInSite; }
    std::filesystem::path editorRoot() const;
    std::filesystem::path current() const;
    static bool has(const std::optional<std::filesystem::path>& folder);
    static std::string versionOf(const std::filesystem::path& folder);
    Json info() const;
    Json rollback();

    // Releases.
    void check(std::function<void(Json)> completion);
    void update(std::function<void(Json)> completion);
    static bool allInside(const std::filesystem::path& folder);
    static std::optional<std::filesystem::path> findSite(const std::filesystem::path& folder, int depth);
    void smokeTest(const std::filesystem::path& site, std::function<void(bool)> completion);

    Progress progress;

private:
    struct Update;
    void get(const std::string& url, std::function<void(std::optional<std::string> body, std::string error)>);
    void latestRelease(std::function<void(std::optional<PdfCraftRelease>, std::string error)>);
    void report(const std::string& step, const std::string& state, const std::string& detail = {});
    void backUp(const std::shared_ptr<Update>&);
    void download(const std::shared_ptr<Update>&);
    void verify(const std::shared_ptr<Update>&);
    void unpack(const std::shared_ptr<Update>&);
    void unpacked(const std::shared_ptr<Update>&, bool unzipped);
    void test(const std::shared_ptr<Update>&);
    void switchOver(const std::shared_ptr<Update>&);
    void cleanUp(const std::string& site, const std::optional<std::string>& previous);
    void fail(const std::shared_ptr<Update>&, const std::string& step, const std::string& message);
    std::string isoNow() const;

    Services m_services;
    PdfCraftScheme::Registry m_docs;
    std::vector<std::shared_ptr<PdfCraftWindow>> m_windows;
    std::shared_ptr<ContentRuleList> m_rules;
    // A check or an update is waiting for the network, unzip or the start-up test.
    bool m_busy { false };
    // Windows asked for while an update runs open once it has switched sites or failed, so that
    // none starts on one site and goes on on another.
    bool m_updating { false };
    std::vector<std::function<void()>> m_heldOpens;
    void updateEnded();
    // Dropped when the host goes, so that a late timer or answer does nothing.
    std::shared_ptr<PdfCraft*> m_self;
};

}
