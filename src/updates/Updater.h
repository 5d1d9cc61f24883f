#pragma once

#include "common/Json.h"
#include "platform/MainQueue.h"
#include "updates/Appcast.h"
#include "updates/UpdateInstaller.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillpost {

class Clock;
class HttpClient;
class ProcessRunner;
class Store;

// Keeps the program current: reads the signed release feed at start and once a day (when
// automatic checks are on) and on request, downloads a newer release, checks its Ed25519
// signature before anything is unpacked, and installs it into the program's own folder when the
// user quits, after the page has saved and a safety copy of the data was taken. In test mode
// (QUILLPOST_UPDATE_TEST, with QUILLPOST_SELFTEST) it installs at once, starts the new version
// and quits, logging each step to the file the variable names.
class Updater {
public:
    struct Services {
        Store& store;
        MainQueue& mainQueue;
        Clock& clock;
        HttpClient& http;
        ProcessRunner& processes;
        // The system log.
        std::function<void(const std::string&)> systemLog {};
    };

    struct Settings {
        std::optional<std::filesystem::path> testLog;
        // QUILLPOST_DATA_DIR is set: a run on a data folder of its own checks for nothing, unless
        // it is an update test.
        bool ownDataFolder { false };
        std::string feedURL;
        std::string publicKey; // Base64, 32 raw bytes
        std::string runningVersion;
        std::filesystem::path prefix;

        static Settings fromEnvironment();
    };

    static constexpr auto checkInterval = std::chrono::hours(24);
    static constexpr std::size_t maximumFeedBytes = 1024 * 1024;
    static constexpr std::size_t maximumArchiveBytes = 512u * 1024 * 1024;

    static Updater& shared();

    Updater(Services, Settings);
    ~Updater();

    void start();
    Json info() const;
    void checkNow();
    void setAutomatic(bool on);
    // Whether an update that a scheduled check finds is downloaded at once, ready for the next quit.
    void setAutoDownload(bool on);
    void log(const std::string& message);
    void tell(const Json& detail);

    // The program is quitting: installs a downloaded update, then calls done. Without one, done
    // runs at once.
    void installOnQuit(std::function<void()> done);
    // The page was shown: an update on trial is kept for good, unless this copy installed it.
    void startedOnce();

    bool hasDownloadedUpdate() const { return m_ready.has_value(); }

    // Set by the application.
    std::function<void(const std::string& script)> evaluateInPage;
    // Gives the page up to two seconds to save, then calls its argument.
    std::function<void(std::function<void()>)> flushForUpdate;
    std::function<void()> quit;

private:
    enum class Phase { Idle, Checking, Downloading, Installing };
    struct Ready {
        AppcastItem item;
        UpdateInstaller::Staged staged;
    };

    bool testMode() const { return m_settings.testLog.has_value(); }
    bool automatic() const;
    bool autoDownload() const;
    void check(bool userInitiated);
    void checked(bool userInitiated, std::optional<AppcastItem>);
    void download(AppcastItem);
    void downloaded(const AppcastItem&, const std::string& archive);
    void install(std::function<void(bool installed)> done);
    void fail(const std::string& message);
    void systemLog(const std::string& message) const;
    // The first check of a run waits a little, so that it never competes with the start.
    void scheduleNextCheck(std::chrono::milliseconds atLeast = std::chrono::seconds(10));
    std::string isoNow() const;

    Services m_services;
    Settings m_settings;
    UpdateInstaller m_installer;
    bool m_started { false };
    Phase m_phase { Phase::Idle };
    std::optional<Ready> m_ready;
    // This copy put a new version in its place: the trial is that version's to settle.
    bool m_swappedIn { false };
    TimerId m_nextCheck { 0 };
    std::shared_ptr<Updater*> m_self;
};

}
