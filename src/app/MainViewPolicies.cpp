#include "app/MainViewPolicies.h"

#include "app/AppScheme.h"
#include "platform/Panels.h"
#include "platform/Window.h"
#include "platform/Workspace.h"

namespace quillpost {

bool isExternalScheme(std::string_view url)
{
    auto colon = url.find(':');
    if (colon == std::string_view::npos)
        return false;
    auto scheme = url.substr(0, colon);
    return scheme == "http" || scheme == "https" || scheme == "mailto";
}

Json downloadRecord(const DownloadOutcome& outcome, const std::optional<std::filesystem::path>& downloadsFolder)
{
    static constexpr const char* results[] = { "saved", "cancelled", "failed" };
    Json record {
        { "url", outcome.url },
        { "result", results[static_cast<size_t>(outcome.result)] },
    };
    if (outcome.result == DownloadOutcome::Result::Saved) {
        const auto folder = outcome.destination.parent_path();
        std::error_code ignored;
        record["name"] = outcome.destination.filename().string();
        record["folder"] = folder.string();
        record["inDownloads"] = downloadsFolder && std::filesystem::equivalent(folder, *downloadsFolder, ignored);
        record["size"] = outcome.size;
    } else if (outcome.result == DownloadOutcome::Result::Failed) {
        record["message"] = outcome.message;
    }
    return record;
}

WebViewPolicies mainViewPolicies(Workspace& workspace, Panels& panels, std::weak_ptr<Window> window, std::function<void(const Json&)> tellPage)
{
    WebViewPolicies policies;
    policies.decideNavigation = [&workspace](const NavigationAction& action) {
        if (action.isDownload)
            return NavigationDecision::Download;
        if (isExternalScheme(action.url)) {
            // Never shown in the page, whether or not the desktop could open it.
            workspace.openUri(action.url);
            return NavigationDecision::Cancel;
        }
        // The page never leaves its own origin: not for a local file, a dropped one, data: or about:.
        return AppScheme::isOwnDocument(action.url) ? NavigationDecision::Allow : NavigationDecision::Cancel;
    };
    policies.downloadUnshowableResponses = true;
    policies.onNewWindowRequest = [&workspace](const NavigationAction& action) {
        if (isExternalScheme(action.url))
            workspace.openUri(action.url);
    };
    policies.chooseDownloadDestination = [&workspace, &panels, window](const std::string& suggestedName, auto completion) {
        std::optional<std::string> start;
        if (auto downloads = workspace.downloadsFolder())
            start = downloads->string();
        panels.chooseSaveLocation(window.lock().get(), suggestedName, start, [completion = std::move(completion)](std::optional<std::string> chosen) {
            if (!chosen) {
                completion(std::nullopt);
                return;
            }
            // The download writes a fresh file in place of one the user chose to replace.
            std::error_code ignored;
            std::filesystem::remove(*chosen, ignored);
            completion(std::filesystem::path(*chosen));
        });
    };
    if (tellPage) {
        policies.downloadEnded = [&workspace, tellPage = std::move(tellPage)](const DownloadOutcome& outcome) {
            tellPage(downloadRecord(outcome, workspace.downloadsFolder()));
        };
    }
    policies.chooseFiles = [&panels, window](bool multiple, auto completion) {
        panels.chooseFiles(window.lock().get(), multiple, [completion = std::move(completion)](std::vector<std::string> chosen) {
            completion(std::vector<std::filesystem::path>(chosen.begin(), chosen.end()));
        });
    };
    policies.alert = [&panels, window](const std::string& message, std::function<void()> done) {
        panels.ask(window.lock().get(), { message, "", { "OK" } }, [done = std::move(done)](std::optional<size_t>) { done(); });
    };
    policies.confirm = [&panels, window](const std::string& message, std::function<void(bool)> answer) {
        panels.ask(window.lock().get(), { message, "", { "OK", "Cancel" } }, [answer = std::move(answer)](std::optional<size_t> chosen) {
            answer(chosen == 0u);
        });
    };
    return policies;
}

}
