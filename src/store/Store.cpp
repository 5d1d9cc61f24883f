#include "store/Store.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Utf8.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

// The rename is only durable once the folder is: after a power cut the folder could otherwise
// still name the old file, or an empty new one.
void syncFolder(const fs::path& folder)
{
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    const int result = ::fsync(descriptor);
    const std::error_code error = result ? lastSystemError() : std::error_code();
    ::close(descriptor);
    // Some file systems do not sync folders at all and say so with EINVAL; that is no failure of ours.
    if (result && error != std::errc::invalid_argument)
        throw FileError(describeFileFailure("save the folder", folder, error));
}

std::error_code writeAll(int descriptor, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return lastSystemError();
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return {};
}

std::optional<unsigned> surrogateAt(std::string_view text, size_t index)
{
    // index points at the backslash of a "\uXXXX" escape.
    if (index + 6 > text.size() || text[index + 1] != 'u')
        return std::nullopt;
    unsigned value = 0;
    const char* digits = text.data() + index + 2;
    const auto [end, error] = std::from_chars(digits, digits + 4, value, 16);
    if (error != std::errc() || end != digits + 4)
        return std::nullopt;
    if (value < 0xD800 || value > 0xDFFF)
        return std::nullopt;
    return value;
}

// JavaScript strings may hold half of a surrogate pair (a cut emoji, say), which JSON.stringify
// writes as a lone "\ud83d" escape and JSON.parse reads back. The JSON parser here refuses such
// text, so the checks read a copy in which each lone half is U+FFFD; the file keeps the original.
std::optional<std::string> withLoneSurrogatesReplaced(std::string_view text)
{
    std::optional<std::string> repaired;
    size_t copiedUpTo = 0;
    for (size_t index = text.find('\\'); index != std::string_view::npos; index = text.find('\\', index)) {
        const auto unit = surrogateAt(text, index);
        if (!unit) {
            index += 2; // any other escape, including an escaped backslash
            continue;
        }
        if (*unit < 0xDC00) {
            const auto low = surrogateAt(text, index + 6);
            if (low && *low >= 0xDC00) {
                index += 12;
                continue;
            }
        }
        if (!repaired)
            repaired.emplace();
        repaired->append(text.substr(copiedUpTo, index - copiedUpTo)).append("\\ufffd");
        index += 6;
        copiedUpTo = index;
    }
    if (repaired)
        repaired->append(text.substr(copiedUpTo));
    return repaired;
}

// Both checks below read the whole text, so every byte is validated, but they build only the
// few values they look at: a full tree of a 20 MB document costs several times the parse itself.

// The top level must be an object or an array; a bare scalar is not a document.
bool holdsDocument(std::string_view bytes)
{
    const auto repaired = withLoneSurrogatesReplaced(bytes);
    const Json outline = Json::parse(repaired ? std::string_view(*repaired) : bytes, [](int depth, Json::parse_event_t, Json&) { return !depth; }, false);
    return outline.is_object() || outline.is_array();
}

// Keeps "enc", "v" and "people" of a top-level object, and "salt", "priv" and "dk" of each person,
// each with its type; members of deeper objects are dropped.
Json openCheckOutline(std::string_view bytes)
{
    bool topLevelIsObject = false;
    auto keep = [&topLevelIsObject](int depth, Json::parse_event_t event, Json& parsed) {
        if (!depth) {
            if (event == Json::parse_event_t::object_start)
                topLevelIsObject = true;
            return true;
        }
        if (event == Json::parse_event_t::key) {
            if (depth == 1)
                return parsed == "enc" || parsed == "v" || parsed == "people";
            if (depth == 3)
                return parsed == "salt" || parsed == "priv" || parsed == "dk";
            return false;
        }
        return depth > 1 || topLevelIsObject;
    };
    const auto repaired = withLoneSurrogatesReplaced(bytes);
    return Json::parse(repaired ? std::string_view(*repaired) : bytes, keep, false);
}

bool isVersionTwo(const Json& value)
{
    // The page reads the version in JavaScript, where 2 and 2.0 are the same number.
    if (value.is_number_integer())
        return value.get<std::int64_t>() == 2;
    if (value.is_number_float())
        return value.get<double>() == 2.0;
    return false;
}

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

    const auto text = readFile(m_dir / "config.json");
    if (!text)
        return;
    Json settings = Json::parse(*text, nullptr, false);
    if (settings.is_object())
        m_config = std::move(settings);
}

Store::~Store()
{
    if (m_backupWork)
        m_services.mainQueue.cancel(*m_backupWork);
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

std::string Store::load() const
{
    for (const fs::path& path : { data(), m_dir / "data.json.bak" }) {
        const auto bytes = readFile(path);
        if (!bytes || !holdsDocument(*bytes))
            continue;
        // The parser skips a byte-order mark that a text editor may have left; the page's would not.
        std::string_view text(*bytes);
        if (text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        return validUtf8(text);
    }
    return "null";
}

void Store::save(std::string_view text)
{
    if (!openable(text))
        throw QuillpostError(2, "Quillpost didn't save, because the saved copy would not open again. Your data is unchanged.");

    std::error_code ignored;
    const fs::path backupCopy = m_dir / "data.json.bak";
    if (fs::exists(data(), ignored)) {
        fs::remove(backupCopy, ignored);
        fs::copy_file(data(), backupCopy, ignored);
    }

    atomicWrite(data(), text);

    if (text == "null")
        return;

    const fs::path snapshot = snapshotsDir() / ("data-" + today() + ".json");
    if (!fs::exists(snapshot, ignored)) {
        try {
            atomicWrite(snapshot, text);
        } catch (const FileError&) {
            // Snapshots are a convenience; the save itself has succeeded.
        }
        pruneDailySnapshots();
    }

    scheduleBackup(std::string(text));
}

void Store::atomicWrite(const fs::path& path, std::string_view bytes)
{
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code folderError;
    fs::create_directories(folder, folderError);
    if (folderError)
        throw FileError(describeFileFailure("create the folder", folder, folderError));

    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    // mkostemp creates the file 0600: the data is the practice's private client data.
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0)
        throw FileError(describeFileFailure("write", path, lastSystemError()));

    std::error_code error = writeAll(descriptor, bytes);
    if (!error && ::fsync(descriptor))
        error = lastSystemError();
    if (::close(descriptor) && !error)
        error = lastSystemError();
    if (!error && ::rename(temporary.c_str(), path.c_str()))
        error = lastSystemError();
    if (error) {
        ::unlink(temporary.c_str());
        throw FileError(describeFileFailure("write", path, error));
    }

    syncFolder(folder);
}

bool Store::openable(std::string_view bytes)
{
    const Json document = openCheckOutline(bytes);
    if (document.is_discarded())
        return false;
    if (!document.is_object())
        return true;

    const auto encrypted = document.find("enc");
    if (encrypted == document.end() || !encrypted->is_boolean() || !encrypted->get<bool>())
        return true;
    const auto version = document.find("v");
    if (version == document.end() || !isVersionTwo(*version))
        return true;

    const auto people = document.find("people");
    if (people == document.end() || !people->is_array() || people->empty())
        return false;
    for (const Json& person : *people) {
        if (!person.is_object())
            return false;
    }
    for (const Json& person : *people) {
        const auto salt = person.find("salt");
        const auto privateKey = person.find("priv");
        const auto derivedKey = person.find("dk");
        if (salt == person.end() || !salt->is_string())
            return false;
        if (privateKey == person.end() || !privateKey->is_object())
            return false;
        if (derivedKey == person.end() || !derivedKey->is_object())
            return false;
    }
    return true;
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
