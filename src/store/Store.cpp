#include "store/Store.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/JsonText.h"
#include "common/Utf8.h"
#include "store/AtomicFile.h"
#include "store/DocumentCheck.h"

#include <cstdint>
#include <ctime>
#include <sys/stat.h>
#include <cerrno>
#include <system_error>
#include <thread>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

// The top level must be an object or an array; a bare scalar is not a document.
bool holdsDocument(std::string_view bytes)
{
    return checkDocument(bytes).whole;
}

// Below this size the open check runs before the write; above it, on a second thread while the
// new bytes are written and synced, which is mostly waiting for the disk.
constexpr size_t checkBesideWriteSize = 256 * 1024;


}

Store::Store(Location location, Services services)
    : m_location(std::move(location))
    , m_dir(m_location.directory)
    , m_services(services)
    , m_backupHandOver(std::make_shared<BackupHandOver>())
    , m_self(std::make_shared<Store*>(this))
{
    std::error_code ignored;
    fs::create_directories(m_dir, ignored);
    // Only a write cut short by a crash leaves these; at start none of ours is in flight.
    removeStaleTemporaryFiles(m_dir);
    removeStaleTemporaryFiles(snapshotsDir());

    if (const auto text = readFile(m_dir / "config.json")) {
        Json settings = parseJsonText(*text);
        if (settings.is_object())
            m_config = std::move(settings);
        else
            putAsideUnreadableConfig();
    }
    safetyCopyOnNewVersion();
}

Store::~Store()
{
    if (m_backupWork)
        m_services.mainQueue.cancel(*m_backupWork);
}

// Settings that don't parse are moved among the snapshots once, where the user can still find
// them, and the program starts from the defaults; left in place, they would be written over by the
// first setting that changes, and each start until then would take another safety copy.
void Store::putAsideUnreadableConfig()
{
    std::error_code error;
    fs::create_directories(snapshotsDir(), error);
    const std::string stem = "unreadable-config-" + milliseconds();
    fs::path aside = snapshotsDir() / (stem + ".json");
    for (int number = 2; fs::exists(fs::symlink_status(aside, error)); ++number)
        aside = snapshotsDir() / (stem + "-" + std::to_string(number) + ".json");
    fs::rename(m_dir / "config.json", aside, error);
    // Where it can't be moved, it is at least not written over from here.
    m_configUnreadable = static_cast<bool>(error);
}

std::optional<std::string> Store::configString(std::string_view key) const
{
    const auto entry = m_config.find(std::string(key));
    if (entry == m_config.end() || !entry->is_string())
        return std::nullopt;
    return entry->get<std::string>();
}

void Store::saveConfig()
{
    try {
        // A value that is not UTF-8 would make every later write fail; it is written repaired instead.
        atomicWrite(m_dir / "config.json", m_config.dump(4, ' ', false, Json::error_handler_t::replace) + "\n");
    } catch (const std::exception&) {
        // Settings are rewritten whole by the next writer; a failed write loses nothing on disk.
    }
}

void Store::readAhead(DataFileReadAhead::Make make)
{
    m_readAhead = DataFileReadAhead::start(m_services.backgroundQueue, data(), std::move(make));
}

const std::string& Store::load()
{
    m_lastLoad = LoadReport {};
    m_savedText.reset();
    m_loadedText = std::string();
    m_madeAhead.reset();
    std::optional<DataFileRead> read;
    if (auto ahead = std::exchange(m_readAhead, nullptr))
        read = ahead->take();
    // What was read ahead is used only while data.json is still that file: a restore or an
    // import since then gives it another identity.
    if (!read || !read->identity || read->identity != FileIdentity::of(data()))
        read = DataFileRead::of(data());
    auto current = std::move(read->bytes);
    std::error_code ignored;
    if (!current)
        m_lastLoad.dataFile = fs::exists(data(), ignored) ? DataFileState::Unreadable : DataFileState::Missing;
    else if (read->whole) {
        m_lastLoad.dataFile = DataFileState::Whole;
        m_wholeDataFile = read->identity;
    }
    else
        m_lastLoad.dataFile = holdsNothing(*current) ? DataFileState::Empty : DataFileState::Unreadable;

    for (const char* name : { "data.json", "data.json.bak" }) {
        const fs::path path = m_dir / name;
        const bool isData = path == data();
        auto bytes = isData ? std::move(current) : readFile(path);
        if (!bytes || !(isData ? m_lastLoad.dataFile == DataFileState::Whole : holdsDocument(*bytes)))
            continue;
        m_lastLoad.source = name;
        if (const auto modified = modificationTime(path))
            m_lastLoad.at = isoTime(*modified);
        // The parser skips a byte-order mark that a text editor may have left; the page's would not.
        if (bytes->starts_with("\xEF\xBB\xBF"))
            bytes->erase(0, 3);
        std::string text = validUtf8(std::move(*bytes));
        // The page's edits go onto the text it was given, while data.json stays the file it came from.
        if (isData)
            m_madeAhead = std::move(read->made);
        if (isData && m_wholeDataFile) {
            m_savedText = SavedText { std::move(text), *m_wholeDataFile };
            return m_savedText->text;
        }
        m_loadedText = std::move(text);
        return m_loadedText;
    }
    m_loadedText = "null";
    return m_loadedText;
}

void Store::save(std::string_view text)
{
    // Text that load() gave may come back; the store replaces what it keeps while writing it.
    const auto within = [text](const std::string& kept) { return text.data() >= kept.data() && text.data() <= kept.data() + kept.size(); };
    if (!text.empty() && ((m_savedText && within(m_savedText->text)) || within(m_loadedText))) {
        const std::string copy(text);
        save(copy);
        return;
    }
    static constexpr const char* wouldNotOpen = "Quillpost didn't save, because the saved copy would not open again. Your data is unchanged.";
    const bool checkBeside = text.size() >= checkBesideWriteSize;
    if (!checkBeside && !openable(text))
        throw QuillpostError(2, wouldNotOpen);

    // A folder that is gone (deleted, or on a disk that was removed) is not silently made anew:
    // the user would find their practice split between two places.
    std::error_code folderError;
    if (!fs::is_directory(m_dir, folderError)) {
        if (checkBeside && !openable(text))
            throw QuillpostError(2, wouldNotOpen);
        throw FileError(unsavedMessage(std::make_error_code(std::errc::no_such_file_or_directory)), std::make_error_code(std::errc::no_such_file_or_directory));
    }

    // The new content is written and synced before anything else changes, so that a full or
    // read-only disk fails the save with every file as it was. A document that would not open is
    // refused whatever the disk did: its temporary file goes away with the PendingFile.
    std::optional<PendingFile> next;
    std::optional<FileError> writeError;
    bool opens = true;
    {
        std::jthread check;
        if (checkBeside)
            check = std::jthread([&opens, text] { opens = openable(text); });
        try {
            next.emplace(PendingFile::write(data(), text));
        } catch (const FileError& error) {
            writeError.emplace(unsavedMessage(error.code()), error.code());
        }
    }
    if (!opens)
        throw QuillpostError(2, wouldNotOpen);
    if (writeError)
        throw *writeError;

    keepCurrentDataFile();
    // A sync that fails after the rename comes too late for "unchanged": data.json already holds
    // the new text and .bak the previous one. The rest of the save goes on (the backup copy is
    // worth most on a disk that fails), and then the page hears what happened.
    std::optional<FileError> unsynced;
    try {
        next->commit();
    } catch (const FolderSyncError& error) {
        unsynced.emplace(notYetSafeMessage(error.code()), error.code());
    } catch (const FileError& error) {
        throw FileError(unsavedMessage(error.code()), error.code());
    }
    // The text passed the open check, so it is JSON; an object or an array is a whole document.
    const auto first = text.find_first_not_of(" \t\r\n");
    const bool wholeDocument = first != std::string_view::npos && (text[first] == '{' || text[first] == '[');
    m_wholeDataFile = wholeDocument ? FileIdentity::of(data()) : std::nullopt;
    m_savedText.reset();
    if (m_wholeDataFile)
        m_savedText = SavedText { std::string(text), *m_wholeDataFile };

    if (text != "null")
        keepSavedCopies(text);
    if (unsynced)
        throw *unsynced;
}

void Store::saveEdits(const std::vector<TextEdit>& edits)
{
    static constexpr const char* cannotEdit = "The changes could not be made to the saved file as they are; save the whole practice instead.";
    if (!m_savedText || FileIdentity::of(data()) != m_savedText->file)
        throw QuillpostError(3, cannotEdit);
    auto text = applyTextEdits(m_savedText->text, edits);
    if (!text)
        throw QuillpostError(3, cannotEdit);
    save(*text);
}

void Store::keepSavedCopies(std::string_view text)
{

    // The day's snapshot is a second name of the file just written (data.json is only ever
    // replaced, never written in place), or a copy where the disk has no hard links.
    const fs::path snapshot = snapshotsDir() / ("data-" + today() + ".json");
    std::error_code ignored;
    if (!fs::exists(snapshot, ignored)) {
        try {
            fs::create_directories(snapshotsDir(), ignored);
            linkOrCopy(data(), snapshot);
        } catch (const FileError&) {
            // Snapshots are a convenience; the save itself has succeeded.
        }
        pruneDailySnapshots();
    }

    scheduleBackup(text);
}

// Before data.json is replaced, its content goes where it can still be found: a whole document
// becomes data.json.bak; a file that does not open is put aside among the snapshots, never over
// the good .bak; an emptied file ("null") is simply replaced.
void Store::keepCurrentDataFile()
{
    // Something other than a file in data.json's place makes the rename fail; nothing to keep.
    struct stat information {};
    if (::stat(data().c_str(), &information) || !S_ISREG(information.st_mode))
        return;

    const fs::path backupCopy = m_dir / "data.json.bak";
    bool whole = m_wholeDataFile && m_wholeDataFile == FileIdentity::of(data());
    if (!whole) {
        const auto bytes = readFile(data());
        if (bytes && holdsNothing(*bytes))
            return;
        whole = bytes && holdsDocument(*bytes);
    }
    if (whole) {
        try {
            replaceWithLink(data(), backupCopy);
        } catch (const FileError&) {
            // The older .bak stays whole; data.json itself is replaced atomically either way.
        }
        return;
    }

    const fs::path putAside = snapshotsDir() / ("unreadable-data-" + milliseconds() + ".json");
    try {
        std::error_code ignored;
        fs::create_directories(snapshotsDir(), ignored);
        linkOrCopy(data(), putAside);
    } catch (const FileError& error) {
        throw FileError("Quillpost didn't save, because it couldn't put aside the data file that doesn't open ("
                + std::string(error.what()) + ") Your data is unchanged.",
            error.code());
    }
}

std::string Store::notYetSafeMessage(const std::error_code& error) const
{
    return "Quillpost wrote your changes into its data folder \"" + m_dir.string() + "\", but the disk then reported a problem ("
        + error.message() + ") while making them safe. Until the disk has written them out, a power cut or a removed disk could still undo them. Check the disk, and save again before you quit.";
}

std::string Store::unsavedMessage(const std::error_code& error) const
{
    const std::string folder = "\"" + m_dir.string() + "\"";
    if (error == std::errc::no_such_file_or_directory) {
        return "Quillpost didn't save, because its data folder " + folder
            + " is gone: it was moved or deleted, or its disk was removed. Put it back and try again; your changes are still here.";
    }
    std::string cause;
    if (error == std::errc::no_space_on_device || error.value() == EDQUOT)
        cause = "there is no space left on the disk that holds its data folder";
    else if (error == std::errc::read_only_file_system)
        cause = "its data folder is on a disk that is read-only";
    else if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted)
        cause = "it isn't allowed to write in its data folder";
    else if (error == std::errc::file_too_large)
        cause = "the disk doesn't take a file this large";
    else
        cause = "the disk reported a problem";
    if (error)
        cause += " (" + error.message() + ")";
    return "Quillpost didn't save, because " + cause + ": " + folder + ". Your data is unchanged.";
}

void Store::atomicWrite(const fs::path& path, std::string_view bytes)
{
    PendingFile::write(path, bytes).commit();
}

bool Store::openable(std::string_view bytes)
{
    return checkDocument(bytes).opens;
}

std::string Store::today() const
{
    // tzset picks up a time zone change during a long run; localtime_r alone would not.
    ::tzset();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(m_services.clock.now());
    std::tm local {};
    ::localtime_r(&seconds, &local);
    char text[16];
    const size_t length = std::strftime(text, sizeof(text), "%Y-%m-%d", &local);
    return std::string(text, length);
}

std::string Store::milliseconds() const
{
    const auto sinceEpoch = m_services.clock.now().time_since_epoch();
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());
}

}
