#pragma once

#include "common/Json.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "store/DataFileRead.h"
#include "store/TextEdits.h"

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
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
        // $XDG_RUNTIME_DIR, where GVfs mounts the desktop's online accounts.
        std::filesystem::path runtime {};
        // The beta edition's data file, which is only ever read.
        std::filesystem::path betaDataFile {};
        // The running version, which decides when a safety copy is due.
        std::string version { QUILLPOST_VERSION };
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

    // What the last load found, so that the page can say so before anything is saved over it.
    enum class DataFileState { Missing, Whole, Empty, Unreadable };
    struct LoadReport {
        DataFileState dataFile { DataFileState::Missing };
        std::string source; // "data.json", "data.json.bak", or empty when nothing opened
        std::string at;     // the source's modification time
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

    // Data file: the text of data.json, or of data.json.bak when data.json doesn't open, or
    // "null". The text stays as it is until the store loads or saves again.
    const std::string& load();
    // Starts reading data.json on the background queue, for the first load() to take while
    // data.json is still the file it read. `make`, when given, runs there too on the text as
    // load() will give it; takeMadeAhead() then hands over what it made.
    void readAhead(DataFileReadAhead::Make make = {});
    // What readAhead's `make` made of the text the last load() gave, once; nothing when that load
    // read data.json afresh or gave another text.
    std::optional<std::string> takeMadeAhead() { return std::exchange(m_madeAhead, std::nullopt); }
    const LoadReport& lastLoad() const { return m_lastLoad; }
    void save(std::string_view text); // throws QuillpostError (code 2) or FileError
    // Saves the text of the last save (or of a load that gave data.json as it is) with the edits
    // made, as save() does. Refused (QuillpostError, code 3) when there is no such text, when
    // data.json is no longer that file, or when the edits don't fit the text; the caller then
    // saves the whole text.
    void saveEdits(const std::vector<TextEdit>&);

    static void atomicWrite(const std::filesystem::path&, std::string_view bytes); // throws FileError
    // A time as UTC ISO 8601 text, to the second: 2026-12-05T12:00:00Z.
    static std::string isoTime(Clock::TimePoint);
    static bool openable(std::string_view bytes);
    std::string today() const;
    // The current time as whole milliseconds since 1970, the way file names carry it.
    std::string milliseconds() const;

    // Snapshots, backup copy and recovery.
    std::vector<std::string> snapshots() const;
    std::vector<std::string> allSnapshots() const;
    // Copies the bytes only when a backup folder is set.
    void scheduleBackup(std::string_view bytes);
    const std::string& lastBackupError() const { return m_lastBackupError; }
    std::optional<RecoveryCopy> recoveryCopy() const;
    // Whether a copy that isn't encrypted may replace a data file that is.
    enum class PlainOverSealed { Refuse, Allow };
    // Puts the named copy back, or, given sealedContent, the page's encrypted form of it.
    // Throws QuillpostError (code 1; code 4 for a plain copy over encrypted data) or FileError.
    void restore(std::string_view name, std::optional<std::string_view> sealedContent = std::nullopt, PlainOverSealed = PlainOverSealed::Refuse);
    // The text of a copy restore accepts, or nothing.
    std::optional<std::string> copyText(std::string_view name) const;
    // A name restore accepts: a snapshot's file name, "data.json.bak", or backupFileName for the
    // backup folder's copy.
    static bool isRestorableName(std::string_view name);
    static constexpr std::string_view backupFileName = "Quillpost-backup.json";
    std::vector<BackupCandidate> backupCandidates() const;

    // Copies that anyone can read once the practice is encrypted: data.json.bak, the snapshots'
    // copies and the backup folder's copy, when they are not in the page's encrypted form.
    // data.json itself is never one of them.
    struct PlainCopy {
        std::string name;  // "data.json.bak", a snapshot's name, or "Quillpost-backup.json"
        std::string place; // "data", "snapshots" or "backup"
    };
    std::vector<PlainCopy> plainCopies() const;
    // Removes the plain copies (a link as a link, never what it points to); answers how many went.
    // Throws QuillpostError (code 3) and removes nothing while data.json is not encrypted itself.
    size_t removePlainCopies();

    // Documents root and the drive folder it may live in.
    std::filesystem::path docsRoot() const;
    std::optional<std::filesystem::path> detectDrive() const;
    // Puts the documents root and the backup folder into the drive folder; answers the three paths.
    Json connectDrive(const std::string& path);
    // Why documents can't be filed under the documents root: it is gone with the drive or disk it
    // was on (Unavailable), or it couldn't be made (NotMade).
    struct DocsRootProblem {
        enum class Kind { Unavailable, NotMade };
        Kind kind;
        std::string message;
    };
    // Makes the documents root where it is missing: the default one with the folders above it, a
    // chosen or drive one only where its own folder is there (and the drive with it). Nothing when
    // the root is there to write into.
    std::optional<DocsRootProblem> makeDocsRoot() const;
    // Whether folder lies in the connected drive folder and is missing with the folder above it,
    // as when the drive isn't mounted: nothing is made there.
    bool onMissingDrive(const std::filesystem::path& folder) const;

    // Client documents: folder and file names, where they go, and the containment check.
    struct DocumentEntry {
        std::string name;
        std::string path;
        std::string folder; // relative to the client folder, "/"-separated; empty at its top
        std::uint64_t size { 0 };
        std::string modified;
    };
    static std::string safeName(std::optional<std::string_view>);
    static std::string safeFile(std::string_view);
    std::filesystem::path folder(std::string_view client, std::optional<std::string_view> sub) const;
    static std::filesystem::path uniquePath(const std::filesystem::path& dir, const std::string& name);
    bool inside(const std::string& path) const;
    // The real path of a document strictly inside the documents root, or nothing.
    std::optional<std::filesystem::path> resolveDocument(const std::string& path) const;
    // The files of a client folder and up to three levels of folders in it, newest first.
    std::vector<DocumentEntry> documents(const std::filesystem::path& clientFolder) const;
    // A client's own folder under the documents root, named after them when first used. The
    // folder of their name is adopted when it is there (a real folder, not a link) and no other
    // client holds it; otherwise a new one is made, the name or the name with " (2)", " (3)" and so
    // on, whichever neither exists nor is held, so that two clients never share one. Held names
    // pass through safeName. With create false nothing is made: the answer is the adoptable folder
    // or none. The documents root must be there (makeDocsRoot). A folder that can't be made gives
    // none and sets error.
    std::optional<std::string> claimClientFolder(std::string_view client, const std::vector<std::string>& held, bool create, std::error_code& error) const;
    // Makes a client's folder (and sub inside it) under the documents root, from the root down
    // without following links; whether it is there. The root must be there (makeDocsRoot).
    bool makeClientFolder(std::string_view client, std::optional<std::string_view> sub) const;
    // Files a new document in a client's folder (made as makeClientFolder does) under fileName's
    // safe name, numbered when taken. It never writes over a file, not even one that appeared
    // meanwhile, and a failed write leaves no part of it. Answers its path; throws FileError.
    std::filesystem::path fileDocument(std::string_view client, std::optional<std::string_view> sub, std::string_view fileName, std::string_view bytes) const;
    // base + " (number)", shortened so that safeName leaves it as it is.
    static std::string numberedName(const std::string& base, int number);

    // The most a file read for the page may hold (a document or a printed file): the page gets it
    // whole, as Base64 text or through the bytes channel, and we hold it whole on the way.
    static constexpr std::uint64_t pageReadLimit = std::uint64_t(256) << 20;
    // What reading a file for the page gave.
    struct PageRead {
        enum class Outcome { Read, Refused, TooLarge };
        Outcome outcome { Outcome::Refused };
        std::string bytes;
    };
    // The refusal of a file larger than the limit.
    static std::string pageReadLimitMessage(std::uint64_t limit = pageReadLimit);
    // Reads a regular file on the background queue, given its real path strictly below root as a
    // containment check resolved it: opened from the root down without following links (openBelow),
    // so a link swapped in meanwhile is refused, and refused when it holds more than limit bytes.
    // done runs on the main queue.
    void readBelow(std::filesystem::path root, std::filesystem::path realPath, std::function<void(PageRead)> done, std::uint64_t limit = pageReadLimit) const;

    // Safety copies around version changes, and the beta edition's data.
    bool safetyCopyBeforeUpdate(std::string_view incomingVersion);
    bool betaIsNewer() const;
    void adoptBetaData(bool use);

private:
    void safetyCopyOnNewVersion();
    void walkDocuments(const std::filesystem::path& folder, const std::string& relative, int depth, std::vector<DocumentEntry>&) const;

    void keepCurrentDataFile();
    void putAsideUnreadableConfig();
    std::string unsavedMessage(const std::error_code&) const;
    std::string notYetSafeMessage(const std::error_code&) const;
    // The day's snapshot and the backup copy of text that save has just written.
    void keepSavedCopies(std::string_view text);

    static std::optional<Clock::TimePoint> modificationTime(const std::filesystem::path&);
    void pruneDailySnapshots() const;
    // A name the store gives the copies it keeps in the snapshots folder.
    static bool isKeptCopyName(std::string_view name);
    std::filesystem::path copyPath(std::string_view restorableName) const;
    template<typename Visit>
    void visitKeptCopies(Visit&&) const;
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
    // config.json is there, does not parse and could not be put aside: it is not written over.
    bool m_configUnreadable { false };
    std::string m_lastBackupError;
    LoadReport m_lastLoad;
    // data.json as this store last wrote or read it whole; a save skips re-reading a file it knows.
    std::optional<FileIdentity> m_wholeDataFile;
    // The text the last save wrote (or load read) and that file: edits are made to that text
    // while data.json is still that very file.
    struct SavedText {
        std::string text;
        FileIdentity file;
    };
    std::optional<SavedText> m_savedText;
    // What load() gave when it was not data.json whole.
    std::string m_loadedText;
    std::shared_ptr<DataFileReadAhead> m_readAhead;
    std::optional<std::string> m_madeAhead;
    std::optional<TimerId> m_backupWork;
    Services m_services;
    std::shared_ptr<BackupHandOver> m_backupHandOver;
    // Handed to the backup job so that a result arriving after the store is gone is dropped.
    std::shared_ptr<Store*> m_self;
};

}
