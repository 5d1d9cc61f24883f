#include "updates/InstallManifest.h"

#include "common/Files.h"

#include <algorithm>
#include <array>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view manifestPath = "share/quillpost/install-manifest";
// Written by the program into its own tree, so never listed: the manifest itself and the note of
// an update on trial (UpdateInstaller).
constexpr std::array<std::string_view, 2> ownNotes { manifestPath, "share/quillpost/.update-trial.json" };

bool validVersion(std::string_view version)
{
    if (version.empty() || version.size() > InstallManifest::maximumVersionLength)
        return false;
    for (char c : version) {
        bool allowed = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' || c == '_' || c == '+' || c == '~';
        if (!allowed)
            return false;
    }
    return true;
}

// A path relative to the prefix, in plain components: nothing absolute, empty, "." or "..".
bool validEntry(std::string_view entry)
{
    if (entry.empty() || entry.front() == '/' || entry.back() == '/')
        return false;
    for (char c : entry) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    }
    size_t start = 0;
    while (start <= entry.size()) {
        auto end = entry.find('/', start);
        if (end == std::string_view::npos)
            end = entry.size();
        auto part = entry.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

}

fs::path InstallManifest::location(const fs::path& tree)
{
    return tree / manifestPath;
}

std::optional<InstallManifest> InstallManifest::parse(std::string_view text, std::string& error)
{
    if (text.size() > maximumBytes) {
        error = "its list of files is too large";
        return std::nullopt;
    }
    InstallManifest manifest;
    size_t lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        auto line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (lineNumber == 1) {
            if (line != firstLine) {
                error = "it isn't a Quillpost install manifest";
                return std::nullopt;
            }
            continue;
        }
        if (lineNumber == 2) {
            if (!line.starts_with("version ") || !validVersion(line.substr(8))) {
                error = "it doesn't name a valid version";
                return std::nullopt;
            }
            manifest.version = line.substr(8);
            continue;
        }
        if (line.empty())
            continue;
        if (!validEntry(line)) {
            error = "it lists a path outside its folder";
            return std::nullopt;
        }
        manifest.files.emplace(line);
    }
    if (manifest.version.empty()) {
        error = lineNumber == 0 ? "it is empty" : "it doesn't name a valid version";
        return std::nullopt;
    }
    if (!manifest.files.contains("bin/quillpost")) {
        error = "it doesn't list the program";
        return std::nullopt;
    }
    return manifest;
}

std::optional<InstallManifest> InstallManifest::read(const fs::path& tree, std::string& error)
{
    std::error_code status;
    auto path = location(tree);
    if (!fs::is_regular_file(fs::symlink_status(path, status))) {
        error.assign("it has no ").append(manifestPath);
        return std::nullopt;
    }
    auto text = readFile(path);
    if (!text) {
        error.assign(manifestPath).append(" can't be read");
        return std::nullopt;
    }
    return parse(*text, error);
}

std::optional<std::string> InstallManifest::strangerIn(const fs::path& tree) const
{
    // Every folder on the way to a listed file belongs to the install too.
    std::set<std::string> folders;
    auto note = [&folders](std::string_view file) {
        for (auto slash = file.rfind('/'); slash != std::string_view::npos && slash > 0; slash = file.rfind('/', slash - 1)) {
            if (!folders.emplace(file.substr(0, slash)).second)
                break;
        }
    };
    for (auto& file : files)
        note(file);
    for (auto own : ownNotes)
        note(own);

    auto listed = [this](const std::string& file) {
        return files.contains(file) || std::find(ownNotes.begin(), ownNotes.end(), file) != ownNotes.end();
    };

    // Links are never followed: a link is an entry of its own, and never one of ours.
    std::error_code error;
    fs::recursive_directory_iterator it(tree, error), end;
    std::string relative = ".";
    while (!error && it != end) {
        relative = it->path().lexically_relative(tree).generic_string();
        auto status = it->symlink_status(error);
        if (error)
            return relative;
        bool ours = fs::is_directory(status) ? folders.contains(relative) : fs::is_regular_file(status) && listed(relative);
        // Anything unlisted is someone else's; the walk stops before it could go into it.
        if (!ours)
            return relative;
        it.increment(error);
    }
    // A folder that can't be listed may hold anything.
    if (error)
        return relative;
    return std::nullopt;
}

std::optional<std::string> InstallManifest::whyNotOnlyOurs(const fs::path& tree)
{
    std::string error;
    auto manifest = read(tree, error);
    if (!manifest)
        return "its list of installed files can't be used: " + error;
    if (auto stranger = manifest->strangerIn(tree))
        return "it also holds \u201c" + *stranger + "\u201d, which isn't part of Quillpost";
    return std::nullopt;
}

}
