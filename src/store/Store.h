#pragma once

#include "common/Json.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

class BackgroundQueue;

// Owns the data directory: the practice's data file, its .bak copy, the settings file,
// the snapshots folder and the backup copy.
class Store {
public:
    // Where the store lives and the user folders it consults. shared() fills these from the environment.
    struct Location {
        std::filesystem::path directory;
        bool directoryOverridden { false }; // QUILLPOST_DATA_DIR was set
        std::filesystem::path home;
        std::filesystem::path documents;
    };

    struct Services {
        Clock& clock;
        MainQueue& mainQueue;
        BackgroundQueue& backgroundQueue;
    };

    struct RecoveryCopy {
        std::string name;
        std::string at;
    };

    struct BackupCandidate {
        std::string source;
        std::string name;
        std::string at;
        std::uint64_t size { 0 };
        std::string text;
    };

    // The application's store: the data directory from QUILLPOST_DATA_DIR, else "Quillpost" in $XDG_DATA_HOME.
    static Store& shared();
    static Location locationFromEnvironment();

    Store(Location, Services);
    ~Store();

    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::filesystem::path& dir() const { return m_dir; }
    std::filesystem::path data() const { return m_dir / "data.json"; }
    std::filesystem::path snapshotsDir() const { return m_dir / "snapshots"; }

    // Settings (config.json). Unknown keys survive every write.
    Json& config() { return m_config; }
    const Json& config() const { return m_config; }
    std::optional<std::string> configString(std::string_view key) const;
    void saveConfig();

    // Data file.
    std::string load() const;
    void save(std::string_view text); // throws QuillpostError (code 2) or FileError

    static void atomicWrite(const std::filesystem::path&, std::string_view bytes); // throws FileError
    static bool openable(std::string_view bytes);
    std::string today() const;
    // The current time as whole milliseconds since 1970, the way file names carry it.
    std::string milliseconds() const;

    // Snapshots, backup copy and recovery.
    std::vector<std::string> snapshots() const;
    std::vector<std::string> allSnapshots() const;
    void scheduleBackup(std::string bytes);
    const std::string& lastBackupError() const { return m_lastBackupError; }
    std::optional<RecoveryCopy> recoveryCopy() const;
    void restore(std::string_view name); // throws QuillpostError (code 1) or FileError
    // A name restore accepts: a snapshot's file name, or "data.json.bak".
    static bool isRestorableName(std::string_view name);
    std::vector<BackupCandidate> backupCandidates() const;

    // Documents root and the drive folder it may live in.
    std::filesystem::path docsRoot() const;
    std::optional<std::filesystem::path> detectDrive() const;

private:
    static std::optional<Clock::TimePoint> modificationTime(const std::filesystem::path&);
    static std::string isoTime(Clock::TimePoint);
    void pruneDailySnapshots() const;
    void handOverBackup(std::filesystem::path target, std::string bytes);

    // What the main thread hands to the background queue: the newest bytes for each backup file.
    // A slow or hung backup folder thus holds at most one waiting copy of the document per file,
    // however many saves come in meanwhile.
    struct BackupHandOver {
        std::mutex lock;
        std::map<std::filesystem::path, std::string> waiting;
        bool writerQueued { false };
    };

    Location m_location;
    std::filesystem::path m_dir;
    Json m_config = Json::object();
    std::string m_lastBackupError;
    std::optional<TimerId> m_backupWork;
    Services m_services;
    std::shared_ptr<BackupHandOver> m_backupHandOver;
    // Handed to the backup job so that a result arriving after the store is gone is dropped.
    std::shared_ptr<Store*> m_self;
};

}
