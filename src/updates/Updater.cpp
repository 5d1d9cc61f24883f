#include "updates/Updater.h"

#include "common/Base64.h"
#include "common/Ed25519.h"
#include "common/Error.h"
#include "net/Deployment.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "platform/ProcessRunner.h"
#include "store/Store.h"

#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace quillpost {

namespace {

constexpr const char* automaticKey = "updateAutomatic";
constexpr const char* autoDownloadKey = "updateAutoDownload";
constexpr const char* lastCheckKey = "updateLastCheck";

// How long the new version gets to show that it starts.
constexpr const char* selfCheckSeconds = "20";

std::optional<Clock::TimePoint> parseIsoTime(const std::string& text)
{
    std::tm parts {};
    const char* end = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    if (!end || *end)
        return std::nullopt;
    return std::chrono::system_clock::from_time_t(::timegm(&parts));
}

bool settingOr(const Json& config, const char* key, bool fallback)
{
    auto it = config.find(key);
    return it != config.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

std::string describe(const HttpResult& result)
{
    switch (result.outcome) {
    case HttpResult::Outcome::Answered:
        return "the server answered " + std::to_string(result.status);
    case HttpResult::Outcome::TooLarge:
        return "the download is larger than any release could be";
    case HttpResult::Outcome::Cancelled:
        return "it was cancelled";
    case HttpResult::Outcome::Failed:
        break;
    }
    return result.error.empty() ? std::string("the server couldn't be reached") : result.error;
}

}

Updater::Updater(Services services, Settings settings)
    : m_services(services)
    , m_settings(std::move(settings))
    , m_installer(m_settings.prefix)
    , m_self(std::make_shared<Updater*>(this))
{
}

Updater::~Updater()
{
    *m_self = nullptr;
    if (m_nextCheck)
        m_services.mainQueue.cancel(m_nextCheck);
}

std::string Updater::isoNow() const
{
    return Store::isoTime(m_services.clock.now());
}

bool Updater::automatic() const
{
    return settingOr(m_services.store.config(), automaticKey, true);
}

bool Updater::autoDownload() const
{
    return testMode() || settingOr(m_services.store.config(), autoDownloadKey, false);
}

void Updater::start()
{
    if (m_settings.ownDataFolder && !testMode())
        return;
    auto& url = m_settings.feedURL;
    if (!(url.starts_with("https://") || (testMode() && url.starts_with("http://")))) {
        systemLog("Updater didn't start: the feed address " + url + " isn't an https address");
        return;
    }
    if (base64Decode(m_settings.publicKey).value_or("").size() != 32) {
        systemLog("Updater didn't start: its public key isn't an Ed25519 key");
        return;
    }
    m_started = true;
    if (testMode()) {
        check(false);
        return;
    }
    scheduleNextCheck();
}

void Updater::scheduleNextCheck(std::chrono::milliseconds atLeast)
{
    if (m_nextCheck)
        m_services.mainQueue.cancel(m_nextCheck);
    m_nextCheck = 0;
    if (!m_started || !automatic())
        return;
    auto wait = atLeast;
    if (auto last = m_services.store.configString(lastCheckKey)) {
        auto parsed = parseIsoTime(*last);
        if (parsed) {
            auto due = *parsed + checkInterval;
            auto now = m_services.clock.now();
            if (due > now)
                wait = std::max(wait, std::chrono::duration_cast<std::chrono::milliseconds>(due - now));
        }
    }
    m_nextCheck = m_services.mainQueue.after(wait, [self = m_self] {
        if (!*self)
            return;
        (*self)->m_nextCheck = 0;
        (*self)->check(false);
        // The check just begun writes its time only when it ends: the next one is a day away.
        (*self)->scheduleNextCheck(checkInterval);
    });
}

Json Updater::info() const
{
    Json info {
        { "canCheck", m_started && m_phase == Phase::Idle },
        { "automatic", automatic() },
        { "autoDownload", autoDownload() },
        { "lastCheck", m_services.store.configString(lastCheckKey).value_or("") },
        { "version", m_settings.runningVersion },
    };
    // Why updates won't come through this program, for the page to say.
    if (!m_started)
        info["note"] = m_settings.ownDataFolder && !testMode() ? "This copy runs on a data folder of its own, so it doesn't look for updates."
                                                               : "Updates aren't available in this copy of Quillpost.";
    else if (auto reason = m_installer.cannotInstall())
        info["note"] = *reason;
    return info;
}

void Updater::checkNow()
{
    if (!m_started) {
        tell({ { "status", "error" }, { "message", "Updates aren't available in this copy of Quillpost." } });
        return;
    }
    if (m_ready) {
        tell({ { "status", "ready" }, { "next", m_ready->item.shortVersion } });
        return;
    }
    if (m_phase == Phase::Idle)
        check(true);
}

void Updater::setAutomatic(bool on)
{
    m_services.store.config()[automaticKey] = on;
    m_services.store.saveConfig();
    scheduleNextCheck();
}

void Updater::setAutoDownload(bool on)
{
    m_services.store.config()[autoDownloadKey] = on;
    m_services.store.saveConfig();
}

void Updater::check(bool userInitiated)
{
    if (m_phase != Phase::Idle || m_ready)
        return;
    m_phase = Phase::Checking;
    if (userInitiated)
        tell({ { "status", "checking" } });
    HttpRequest request;
    request.url = m_settings.feedURL;
    request.timeout = std::chrono::seconds(30);
    request.maxBodyBytes = maximumFeedBytes;
    m_services.http.send(std::move(request), [self = m_self, userInitiated](HttpResult result) {
        if (!*self)
            return;
        auto& updater = **self;
        updater.m_services.store.config()[lastCheckKey] = updater.isoNow();
        updater.m_services.store.saveConfig();
        if (result.outcome != HttpResult::Outcome::Answered || result.status < 200 || result.status > 299) {
            updater.fail("The update feed couldn't be read (" + describe(result) + ").");
            return;
        }
        std::string error;
        auto items = parseAppcast(result.body, error);
        if (!items) {
            updater.fail(error);
            return;
        }
        updater.checked(userInitiated, newestUpdate(*items, updater.m_settings.runningVersion));
    });
}

void Updater::checked(bool userInitiated, std::optional<AppcastItem> update)
{
    if (!update) {
        log("no update");
        m_phase = Phase::Idle;
        if (userInitiated)
            tell({ { "status", "none" }, { "version", m_settings.runningVersion } });
        tell({ { "status", "idle" } });
        return;
    }
    log("found " + update->shortVersion);
    // The page announces what a scheduled check found wherever the user is; a check the user asked
    // for answers where they asked.
    Json available { { "status", "available" }, { "next", update->shortVersion } };
    if (!userInitiated)
        available["scheduled"] = true;
    tell(available);
    if (auto reason = m_installer.cannotInstall()) {
        log("error " + *reason);
        systemLog("Quillpost: " + *reason);
        m_phase = Phase::Idle;
        tell({ { "status", "unwritable" }, { "next", update->shortVersion }, { "message", *reason } });
        tell({ { "status", "idle" } });
        return;
    }
    if (userInitiated || autoDownload()) {
        if (userInitiated)
            tell({ { "status", "opened" }, { "next", update->shortVersion } });
        download(std::move(*update));
        return;
    }
    m_phase = Phase::Idle;
    tell({ { "status", "idle" } });
}

void Updater::download(AppcastItem item)
{
    m_phase = Phase::Downloading;
    HttpRequest request;
    request.url = item.url;
    // Nothing received for a minute ends it; a large release on a slow line still finishes.
    request.timeout = std::chrono::seconds(60);
    request.maxBodyBytes = maximumArchiveBytes;
    request.onProgress = [self = m_self, next = item.shortVersion](std::uint64_t received, std::uint64_t total) {
        if (*self)
            (*self)->tell({ { "status", "downloading" }, { "next", next }, { "received", received }, { "total", total } });
    };
    m_services.http.send(std::move(request), [self = m_self, item](HttpResult result) {
        if (!*self)
            return;
        auto& updater = **self;
        if (result.outcome != HttpResult::Outcome::Answered || result.status < 200 || result.status > 299) {
            updater.fail("The update didn't download (" + describe(result) + "). Nothing was changed.");
            return;
        }
        updater.downloaded(item, result.body);
    });
}

void Updater::downloaded(const AppcastItem& item, const std::string& archive)
{
    // Nothing reaches the disk before the signature has been checked.
    auto key = base64Decode(m_settings.publicKey);
    auto signature = base64Decode(item.signature);
    if (!key || !signature || !ed25519Verify(*key, archive, *signature)) {
        fail(item.signature.empty() ? "The update isn't signed, so it was thrown away. Nothing was changed."
                                    : "The update's signature doesn't match Quillpost's, so it was thrown away. Nothing was changed.");
        return;
    }
    if (item.length && item.length != archive.size()) {
        fail("The update isn't the size its feed announced, so it was thrown away. Nothing was changed.");
        return;
    }
    UpdateInstaller::Staged staged;
    try {
        staged = m_installer.stage(archive, item.version, m_settings.runningVersion);
    } catch (const FileError& error) {
        fail(std::string(error.what()) + " Nothing was changed.");
        return;
    }
    log("downloaded " + item.shortVersion + ", installing");
    m_ready = Ready { item, staged };
    m_phase = Phase::Idle;
    tell({ { "status", "ready" }, { "next", item.shortVersion } });
    if (!testMode()) {
        tell({ { "status", "idle" } });
        return;
    }
    install([self = m_self](bool installed) {
        if (!*self || !installed)
            return;
        auto& updater = **self;
        std::string error;
        if (!updater.m_services.processes.launch({ updater.m_installer.executable().string() }, error))
            updater.log("error the new version couldn't be started: " + error);
        if (updater.quit)
            updater.quit();
    });
}

void Updater::installOnQuit(std::function<void()> done)
{
    if (!m_ready || testMode() || m_phase == Phase::Installing) {
        done();
        return;
    }
    install([done = std::move(done)](bool) { done(); });
}

void Updater::install(std::function<void(bool installed)> done)
{
    m_phase = Phase::Installing;
    auto proceed = [self = m_self, done = std::move(done)]() mutable {
        if (!*self)
            return;
        auto& updater = **self;
        auto ready = *updater.m_ready;
        bool copied = updater.m_services.store.safetyCopyBeforeUpdate(ready.staged.version);
        updater.log(std::string("safety copy ") + (copied ? "ok" : "FAILED"));
        if (!copied)
            updater.systemLog("Quillpost: the safety copy before updating failed");
        try {
            updater.m_installer.swapIn(ready.staged, updater.m_settings.runningVersion);
            updater.m_swappedIn = true;
        } catch (const FileError& error) {
            updater.m_ready.reset();
            updater.fail(error.what());
            done(false);
            return;
        }
        auto executable = updater.m_installer.executable().string();
        updater.m_services.processes.run({ "/usr/bin/timeout", selfCheckSeconds, executable, "--self-check" },
            [self, ready, done = std::move(done)](ProcessRunner::Result result) mutable {
                if (!*self)
                    return;
                auto& owner = **self;
                owner.m_ready.reset();
                owner.m_phase = Phase::Idle;
                if (result.exitStatus == 0) {
                    owner.log("installed " + ready.item.shortVersion);
                    owner.tell({ { "status", "installed" }, { "next", ready.item.shortVersion } });
                    done(true);
                    return;
                }
                bool restored = owner.m_installer.rollBack();
                owner.log(restored ? "rolled back: the new version didn't start" : "error the new version didn't start and the previous one couldn't be put back");
                owner.tell({ { "status", "error" }, { "message", restored
                    ? "Quillpost " + ready.item.shortVersion + " didn't start, so you're staying on " + owner.m_settings.runningVersion + "."
                    : "Quillpost " + ready.item.shortVersion + " didn't start, and " + owner.m_settings.runningVersion
                        + " couldn't be put back in its place. Download Quillpost again from " + Deployment::releasesPageURL + "." } });
                done(false);
            });
    };
    if (flushForUpdate)
        flushForUpdate(std::move(proceed));
    else
        proceed();
}

void Updater::startedOnce()
{
    // The copy that installed an update may show its page only now, while the new version is
    // still being checked; keeping the trial then would throw away the version to roll back to.
    if (m_swappedIn)
        return;
    if (auto kept = m_installer.commit()) {
        log("kept " + *kept);
        systemLog("Quillpost: " + *kept);
    }
}

void Updater::systemLog(const std::string& message) const
{
    if (m_services.systemLog)
        m_services.systemLog(message);
}

void Updater::fail(const std::string& message)
{
    log("error " + message);
    m_phase = Phase::Idle;
    tell({ { "status", "error" }, { "message", message } });
    tell({ { "status", "idle" } });
}

void Updater::tell(const Json& detail)
{
    if (!evaluateInPage)
        return;
    std::string script = "window.dispatchEvent(new CustomEvent('qp-update', { detail: ";
    script.append(detail.dump(-1, ' ', false, Json::error_handler_t::replace)).append(" }))");
    evaluateInPage(script);
}

void Updater::log(const std::string& message)
{
    if (!testMode())
        return;
    std::string line = isoNow();
    line.append(" ").append(message).append("\n");
    int fd = ::open(m_settings.testLog->c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0) {
        [[maybe_unused]] auto written = ::write(fd, line.data(), line.size());
        ::close(fd);
        return;
    }
    try {
        Store::atomicWrite(*m_settings.testLog, line);
    } catch (const FileError&) {
    }
}

}
