#include "pdfcraft/PdfCraft.h"

#include "common/Error.h"
#include "common/Files.h"
#include "platform/HttpClient.h"
#include "platform/ProcessRunner.h"
#include "store/Store.h"

#include <cstdio>
#include <ctime>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

constexpr const char* busyMessage = "PdfCraft is already being checked or updated. Try again when that has finished.";
constexpr const char* unzipTool = "/usr/bin/unzip";
constexpr int smokeTestTries = 120;
constexpr auto smokeTestPause = std::chrono::milliseconds(250);
// A web view that never answers its probe must not hold the update for ever.
constexpr auto smokeTestLimit = std::chrono::seconds(60);

std::string megabytes(std::size_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f MB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

// The version as one safe folder-name component: a tag can't lead the install out of the editor root.
std::string folderName(const std::string& version)
{
    std::string name = version;
    for (char& c : name) {
        const bool safe = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '_' || c == '-';
        if (!safe)
            c = '-';
    }
    return name;
}

bool hasEntryEndingIn(const std::vector<std::string>& names, std::string_view suffix)
{
    return std::any_of(names.begin(), names.end(), [suffix](const std::string& name) { return name.ends_with(suffix); });
}

}

struct PdfCraft::Update {
    std::function<void(Json)> completion;
    PdfCraftRelease release;
    std::string zip;
    std::string sums;
    std::string digest;
    fs::path installFolder;
    fs::path site;
};

std::string PdfCraft::isoNow() const
{
    return Store::isoTime(m_services.clock.now());
}

void PdfCraft::report(const std::string& step, const std::string& state, const std::string& detail)
{
    if (progress)
        progress(Json { { "step", step }, { "state", state }, { "detail", detail } });
}

void PdfCraft::get(const std::string& url, std::function<void(std::optional<std::string>, std::string)> completion)
{
    HttpRequest request;
    request.url = url;
    request.timeout = std::chrono::seconds(60);
    request.followRedirects = true;
    request.headers = { { "User-Agent", "Quillpost" }, { "Accept", "application/vnd.github+json" } };
    request.maxBodyBytes = maximumDownloadBytes;
    m_services.http.send(std::move(request), [completion = std::move(completion)](HttpResult result) {
        switch (result.outcome) {
        case HttpResult::Outcome::Answered:
            if (result.status >= 200 && result.status <= 299)
                return completion(std::move(result.body), {});
            return completion(std::nullopt, "GitHub answered " + std::to_string(result.status));
        case HttpResult::Outcome::TooLarge:
            return completion(std::nullopt, "the download is larger than " + megabytes(maximumDownloadBytes));
        case HttpResult::Outcome::Cancelled:
            return completion(std::nullopt, "the download was cancelled");
        case HttpResult::Outcome::Failed:
            break;
        }
        completion(std::nullopt, result.error.empty() ? "the connection failed" : result.error);
    });
}

void PdfCraft::latestRelease(std::function<void(std::optional<PdfCraftRelease>, std::string)> completion)
{
    get(m_services.releasesURL, [completion = std::move(completion)](std::optional<std::string> body, std::string error) {
        if (!body)
            return completion(std::nullopt, error);
        Json description = Json::parse(*body, nullptr, false);
        if (description.is_discarded())
            return completion(std::nullopt, "GitHub's answer isn't readable");
        completion(PdfCraftRelease::from(description), {});
    });
}

void PdfCraft::check(std::function<void(Json)> completion)
{
    const std::string currentVersion = versionOf(current());
    if (m_busy)
        return completion(Json { { "ok", false }, { "current", currentVersion }, { "error", busyMessage } });
    m_busy = true;
    latestRelease([self = m_self, currentVersion, completion = std::move(completion)](std::optional<PdfCraftRelease> release, std::string error) {
        if (*self)
            (*self)->m_busy = false;
        if (!release) {
            completion(Json { { "ok", false }, { "current", currentVersion },
                { "error", "Couldn't reach GitHub (" + error + "). Check the internet connection and try again." } });
            return;
        }
        completion(Json {
            { "ok", true },
            { "current", currentVersion },
            { "latest", release->version },
            { "date", release->date },
            { "url", release->page },
            { "available", release->zipURL && release->sumsURL && PdfCraftRelease::newer(release->version, currentVersion) },
        });
    });
}

void PdfCraft::update(std::function<void(Json)> completion)
{
    if (!m_windows.empty()) {
        return completion(Json { { "ok", false }, { "step", "close" }, { "open", static_cast<int>(m_windows.size()) },
            { "error", "PdfCraft is still open." } });
    }
    if (m_busy)
        return completion(Json { { "ok", false }, { "step", "busy" }, { "error", busyMessage } });
    m_busy = true;
    m_updating = true;
    auto update = std::make_shared<Update>();
    update->completion = std::move(completion);
    backUp(update);
}

void PdfCraft::fail(const std::shared_ptr<Update>& update, const std::string& step, const std::string& message)
{
    report(step, "fail", message);
    m_busy = false;
    update->completion(Json { { "ok", false }, { "step", step }, { "error", message } });
    updateEnded();
}

void PdfCraft::backUp(const std::shared_ptr<Update>& update)
{
    report("backup", "run");
    if (auto data = readFile(m_services.store.data())) {
        try {
            Store::atomicWrite(m_services.store.snapshotsDir() / ("before-pdfcraft-update-" + m_services.store.milliseconds() + ".json"), *data);
        } catch (const std::exception& error) {
            return fail(update, "backup", std::string("Couldn't back up your data, so nothing was changed. ").append(error.what()));
        }
    }
    report("backup", "ok");
    download(update);
}

void PdfCraft::download(const std::shared_ptr<Update>& update)
{
    report("download", "run");
    auto failed = [](std::string error) { return "The download didn't finish (" + error + "). Nothing was changed."; };
    latestRelease([this, self = m_self, update, failed](std::optional<PdfCraftRelease> release, std::string error) {
        if (!*self)
            return;
        if (!release)
            return fail(update, "download", failed(error));
        update->release = std::move(*release);
        if (!update->release.zipURL || !update->release.sumsURL)
            return fail(update, "download", "That release has no web version to install.");
        if (!PdfCraftRelease::newer(update->release.version, versionOf(current())))
            return fail(update, "download", "You already have the newest version.");
        get(*update->release.zipURL, [this, self, update, failed](std::optional<std::string> zip, std::string zipError) {
            if (!*self)
                return;
            if (!zip)
                return fail(update, "download", failed(zipError));
            update->zip = std::move(*zip);
            get(*update->release.sumsURL, [this, self, update, failed](std::optional<std::string> sums, std::string sumsError) {
                if (!*self)
                    return;
                if (!sums)
                    return fail(update, "download", failed(sumsError));
                update->sums = std::move(*sums);
                report("download", "ok", megabytes(update->zip.size()));
                verify(update);
            });
        });
    });
}

void PdfCraft::verify(const std::shared_ptr<Update>& update)
{
    report("verify", "run");
    update->digest = PdfCraftRelease::sha256(update->zip);
    if (update->digest.empty() || !PdfCraftRelease::checksumMatches(update->sums, update->release.zipName, update->digest))
        return fail(update, "verify", "The download didn't match PdfCraft's published fingerprint, so it was thrown away. Nothing was changed.");
    report("verify", "ok", "SHA-256 matches");
    unpack(update);
}

void PdfCraft::unpack(const std::shared_ptr<Update>& update)
{
    report("unpack", "run");
    const fs::path root = editorRoot();
    update->installFolder = root / (folderName(update->release.version) + "-" + m_services.store.milliseconds());
    const fs::path zipFile = root / update->release.zipName;
    try {
        std::error_code error;
        fs::create_directories(update->installFolder, error);
        if (error)
            throw FileError(describeFileFailure("create", update->installFolder, error), error);
        Store::atomicWrite(zipFile, update->zip);
    } catch (const std::exception& error) {
        std::error_code ignored;
        fs::remove_all(update->installFolder, ignored);
        return fail(update, "unpack", std::string("The download looked incomplete (").append(error.what()).append("). Nothing was changed."));
    }
    update->zip.clear();
    update->zip.shrink_to_fit();
    m_services.processes.run({ unzipTool, "-q", "-o", zipFile.string(), "-d", update->installFolder.string() },
        [this, self = m_self, update, zipFile](ProcessRunner::Result result) {
            if (!*self)
                return;
            std::error_code ignored;
            fs::remove(zipFile, ignored);
            unpacked(update, result.started && result.exitStatus == 0);
        });
}

void PdfCraft::unpacked(const std::shared_ptr<Update>& update, bool unzipped)
{
    std::optional<QuillpostError> problem;
    std::optional<fs::path> site;
    if (!unzipped)
        problem.emplace(1, "could not unpack the download");
    else if (!allInside(update->installFolder))
        problem.emplace(2, "unexpected files");
    else if (!(site = findSite(update->installFolder, 0)))
        problem.emplace(3, "files are missing");
    else {
        const auto names = namesInFolder(*site);
        if (!hasEntryEndingIn(names, ".wasm") || !hasEntryEndingIn(names, ".js"))
            problem.emplace(3, "files are missing");
    }
    if (!problem) {
        try {
            Store::atomicWrite(*site / "VERSION.txt",
                "PdfCraft web " + update->release.version + " (installed " + isoNow() + ", sha256 " + update->digest + ")");
        } catch (const std::exception& error) {
            problem.emplace(0, error.what());
        }
    }
    if (problem) {
        std::error_code ignored;
        fs::remove_all(update->installFolder, ignored);
        return fail(update, "unpack", std::string("The download looked incomplete (").append(problem->what()).append("). Nothing was changed."));
    }
    update->site = *site;
    report("unpack", "ok");
    test(update);
}

void PdfCraft::test(const std::shared_ptr<Update>& update)
{
    report("test", "run");
    smokeTest(update->site, [this, self = m_self, update](bool started) {
        if (!*self)
            return;
        if (!started) {
            std::error_code ignored;
            fs::remove_all(update->installFolder, ignored);
            return fail(update, "test", "The new version didn't start properly, so you're staying on the current one.");
        }
        report("test", "ok");
        switchOver(update);
    });
}

void PdfCraft::switchOver(const std::shared_ptr<Update>& update)
{
    Json& config = m_services.store.config();
    std::optional<std::string> previous;
    if (auto installed = config.find("pdfcraft"); installed != config.end() && installed->is_object()) {
        if (auto dir = installed->find("dir"); dir != installed->end() && dir->is_string())
            previous = dir->get<std::string>();
    }
    config["pdfcraftPrev"] = previous ? Json(*previous) : Json();
    config["pdfcraft"] = Json { { "version", update->release.version }, { "dir", update->site.string() }, { "installedAt", isoNow() } };
    m_services.store.saveConfig();

    cleanUp(update->site.string(), previous);
    report("switch", "ok", "Now on " + update->release.version);
    m_busy = false;
    update->completion(Json { { "ok", true }, { "version", update->release.version } });
    updateEnded();
}

void PdfCraft::cleanUp(const std::string& site, const std::optional<std::string>& previous)
{
    const fs::path root = editorRoot();
    const std::string prefix = root.string() + "/";
    std::vector<std::string> keep;
    for (const auto* path : { &site, previous ? &*previous : nullptr }) {
        if (!path || !path->starts_with(prefix))
            continue;
        const std::string below = path->substr(prefix.size());
        keep.push_back(below.substr(0, below.find('/')));
    }
    for (const auto& name : namesInFolder(root)) {
        if (std::find(keep.begin(), keep.end(), name) != keep.end())
            continue;
        std::error_code ignored;
        fs::remove_all(root / name, ignored);
    }
}

void PdfCraft::smokeTest(const fs::path& site, std::function<void(bool)> completion)
{
    struct Run {
        std::shared_ptr<PdfCraftWindow> window;
        std::function<void(bool)> completion;
        int tries { 0 };
        bool finished { false };
        std::optional<TimerId> limit;
        std::function<void()> probe;
    };
    auto run = std::make_shared<Run>();
    run->completion = std::move(completion);
    auto& mainQueue = m_services.mainQueue;

    auto finish = [&mainQueue](const std::shared_ptr<Run>& ending, bool started) {
        if (ending->finished)
            return;
        ending->finished = true;
        if (ending->limit)
            mainQueue.cancel(*ending->limit);
        if (ending->window)
            ending->window->close();
        // The window goes once its close has finished, and the probe with it (it holds the run).
        mainQueue.post([ending] {
            ending->window = nullptr;
            ending->probe = nullptr;
        });
        ending->completion(started);
    };

    withRules([this, self = m_self, site, run, finish, &mainQueue](std::shared_ptr<ContentRuleList> rules) {
        if (!*self)
            return;
        run->window = PdfCraftWindow::create(m_services.windows, { "pdfcraft://app/index.html", "PdfCraft test", std::move(rules), [site] { return site; }, false },
            m_docs, [](PdfCraftWindow&) { });
        run->limit = mainQueue.after(smokeTestLimit, [run, finish] { finish(run, false); });
        run->probe = [run, finish, &mainQueue] {
            if (run->finished || !run->window)
                return;
            ++run->tries;
            run->window->webView().evaluateScript("!!window.wasmBindings", [run, finish, &mainQueue](std::optional<Json> result, std::string) {
                if (run->finished)
                    return;
                if (result && result->is_boolean() && result->get<bool>())
                    return finish(run, true);
                if (run->tries >= smokeTestTries)
                    return finish(run, false);
                mainQueue.after(smokeTestPause, [run] {
                    if (run->probe)
                        run->probe();
                });
            });
        };
        run->probe();
    });
}

}
