#include "printinbox/PrintInbox.h"

#include "common/Utf8.h"
#include "store/AtomicFile.h"
#include "store/Store.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <regex>
#include <sys/stat.h>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

constexpr std::chrono::milliseconds readyAfter { 1200 };

// The user's own clock, as the file name shows it: "2024-05-01 13.45".
std::string localStamp(std::chrono::system_clock::time_point at)
{
    auto seconds = std::chrono::system_clock::to_time_t(at);
    std::tm parts {};
    localtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H.%M", &parts);
    return text;
}

bool startsAsPdf(const fs::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return false;
    char head[5] {};
    stream.read(head, sizeof head);
    return stream.gcount() == 5 && std::string_view(head, 5) == "%PDF-";
}

}

void PrintInbox::collect()
{
    std::error_code error;
    fs::directory_iterator entries(spoolFolder(), error);
    if (error)
        return;
    auto now = m_services.clock.now();
    for (auto entry = fs::begin(entries); entry != fs::end(entries); entry.increment(error)) {
        if (error)
            return;
        auto name = entry->path().filename().string();
        if (name.starts_with("."))
            continue;
        // Only files the server wrote; a link or folder here is nothing it made.
        std::error_code statusError;
        if (!entry->is_regular_file(statusError) || entry->is_symlink(statusError))
            continue;
        std::error_code sizeError;
        std::uintmax_t size = entry->file_size(sizeError);
        if (sizeError)
            size = 0;

        auto seen = m_seen.find(name);
        if (seen != m_seen.end() && seen->second.size == size) {
            if (size > 0 && now - seen->second.at > readyAfter) {
                m_seen.erase(seen);
                deliver(entry->path());
            }
            continue;
        }
        m_seen[name] = { size, now };
    }
}

void PrintInbox::deliver(const fs::path& spoolFile)
{
    std::error_code ignored;
    if (!startsAsPdf(spoolFile)) {
        fs::remove(spoolFile, ignored);
        return;
    }
    auto title = InboxNames::jobTitle(spoolFile.filename().string());
    std::string name = title;
    name.append(" (printed ").append(localStamp(m_services.clock.now())).append(").pdf");
    name = InboxNames::safeFile(name);

    // A new name that never replaces a file: should one appear under the chosen name after all,
    // the next counter is taken.
    for (int counter = 1; counter < 10000; ++counter) {
        auto target = InboxNames::uniquePath(inboxFolder(), name, counter);
        try {
            linkOrCopy(spoolFile, target);
        } catch (const std::exception&) {
            if (fs::exists(target, ignored))
                continue;
            // The job stays in the spool and is tried again at a later tick.
            return;
        }
        fs::remove(spoolFile, ignored);
        if (onArrive)
            onArrive(info(target));
        return;
    }
}

Json PrintInbox::info(const fs::path& file) const
{
    std::error_code error;
    auto size = fs::file_size(file, error);
    if (error)
        size = 0;
    auto at = m_services.clock.now();
    struct stat attributes {};
    if (::stat(file.c_str(), &attributes) == 0)
        at = std::chrono::system_clock::from_time_t(attributes.st_mtim.tv_sec);
    return Json {
        { "name", file.filename().string() },
        { "path", file.string() },
        { "size", static_cast<std::uint64_t>(size) },
        { "at", Store::isoTime(at) },
    };
}

Json PrintInbox::list() const
{
    std::vector<Json> records;
    std::error_code error;
    fs::directory_iterator entries(inboxFolder(), error);
    if (!error) {
        for (auto entry = fs::begin(entries); entry != fs::end(entries); entry.increment(error)) {
            if (error)
                break;
            auto extension = entry->path().extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            std::error_code statusError;
            if (extension != ".pdf" || !entry->is_regular_file(statusError))
                continue;
            records.push_back(info(entry->path()));
        }
    }
    std::stable_sort(records.begin(), records.end(), [](const Json& a, const Json& b) {
        return a.value("at", std::string()) > b.value("at", std::string());
    });
    return Json(records);
}

std::optional<fs::path> PrintInbox::inside(const std::string& path) const
{
    if (path.empty() || path.find('\0') != std::string::npos || !fs::path(path).is_absolute())
        return std::nullopt;
    std::error_code error;
    auto file = fs::canonical(path, error);
    if (error)
        return std::nullopt;
    auto folder = fs::canonical(inboxFolder(), error);
    if (error)
        return std::nullopt;
    // Only files: the spool folder lies directly in the inbox too.
    if (file.parent_path() != folder || !fs::is_regular_file(file, error))
        return std::nullopt;
    return file;
}

namespace InboxNames {

std::string jobTitle(const std::string& spoolName)
{
    auto title = validUtf8(fs::path(spoolName).stem().string());
    static const std::regex jobNumber("^[0-9]+-");
    static const std::regex pdfSuffix("_pdf$");
    title = std::regex_replace(title, jobNumber, "", std::regex_constants::format_first_only);
    title = std::regex_replace(title, pdfSuffix, "");
    if (title.empty() || title == "untitled")
        return "Printed form";
    return title;
}

std::string safeFile(const std::string& name)
{
    auto last = fs::path(name).filename();
    std::string extension;
    for (char c : last.extension().string()) {
        if (std::isalnum(static_cast<unsigned char>(c)) && extension.size() < 6)
            extension.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    std::string base;
    bool space = false;
    for (char c : validUtf8(last.stem().string())) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
            continue;
        if (c == ' ' || c == '\t') {
            space = true;
            continue;
        }
        if (space && !base.empty())
            base.push_back(' ');
        space = false;
        base.push_back(c);
    }
    while (base.starts_with("."))
        base.erase(0, 1);
    if (base.empty())
        base = "Untitled";
    // 80 characters, not bytes: a cut never splits a character.
    std::size_t characters = 0;
    for (std::size_t i = 0; i < base.size(); ++i) {
        if ((static_cast<unsigned char>(base[i]) & 0xC0) != 0x80 && ++characters > 80) {
            base.resize(i);
            break;
        }
    }
    return extension.empty() ? base : base + "." + extension;
}

fs::path uniquePath(const fs::path& folder, const std::string& name, int counter)
{
    std::error_code error;
    for (;; ++counter) {
        fs::path candidate = folder / name;
        if (counter > 1) {
            auto stem = fs::path(name).stem().string();
            auto extension = fs::path(name).extension().string();
            candidate = folder / stem.append(" (").append(std::to_string(counter)).append(")").append(extension);
        }
        if (!fs::exists(fs::symlink_status(candidate, error)))
            return candidate;
    }
}

}

}
