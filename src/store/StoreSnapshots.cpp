#include "store/Store.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Utf8.h"
#include "platform/BackgroundQueue.h"
#include "store/SealedForm.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <map>
#include <mutex>
#include <regex>
#include <sys/stat.h>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

constexpr auto backupDelay = std::chrono::milliseconds(1500);
constexpr size_t dailySnapshotsKept = 30;
constexpr size_t dailySnapshotsOffered = 2;

// \d and \w spelled out as ASCII classes, so that the locale cannot widen them.
const std::regex& dailyPattern()
{
    static const std::regex pattern(R"(^data-[0-9]{4}-[0-9]{2}-[0-9]{2}\.json$)");
    return pattern;
}

const std::regex& recoveryPattern()
{
    static const std::regex pattern(R"(^(data-[0-9]{4}-[0-9]{2}-[0-9]{2}|before-update-[A-Za-z0-9_.-]+)\.json$)");
    return pattern;
}

const std::regex& restorePattern()
{
    static const std::regex pattern(R"(^(data-[0-9]{4}-[0-9]{2}-[0-9]{2}|before-(update|restore|pdfcraft-update)-[A-Za-z0-9_.-]+)\.json$)");
    return pattern;
}

std::vector<std::string> newestFirst(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end(), std::greater<>());
    return names;
}

std::vector<std::string> dailySnapshotNames(const std::vector<std::string>& names)
{
    std::vector<std::string> daily;
    std::copy_if(names.begin(), names.end(), std::back_inserter(daily), [](const std::string& name) {
        return std::regex_match(name, dailyPattern());
    });
    return newestFirst(std::move(daily));
}

bool isSafetyCopy(std::string_view name)
{
    static constexpr std::array prefixes { "before-update-", "before-restore-", "before-pdfcraft-update-", "unreadable-data-" };
    return std::any_of(prefixes.begin(), prefixes.end(), [name](std::string_view prefix) {
        return name.starts_with(prefix);
    });
}

QuillpostError refusedRestore()
{
    return QuillpostError(1, "The operation couldn\u2019t be completed. (Quillpost error 1.)");
}

}

std::vector<std::string> Store::snapshots() const
{
    return dailySnapshotNames(namesInFolder(snapshotsDir()));
}

std::vector<std::string> Store::allSnapshots() const
{
    const std::vector<std::string> names = namesInFolder(snapshotsDir());
    std::vector<std::string> result = dailySnapshotNames(names);

    std::vector<std::string> safetyCopies;
    std::copy_if(names.begin(), names.end(), std::back_inserter(safetyCopies), [](const std::string& name) {
        return isSafetyCopy(name);
    });
    safetyCopies = newestFirst(std::move(safetyCopies));
    result.insert(result.end(), safetyCopies.begin(), safetyCopies.end());
    return result;
}

void Store::pruneDailySnapshots() const
{
    const std::vector<std::string> daily = snapshots();
    for (size_t index = dailySnapshotsKept; index < daily.size(); ++index) {
        std::error_code ignored;
        fs::remove(snapshotsDir() / daily[index], ignored);
    }
}

void Store::scheduleBackup(std::string_view bytes)
{
    const auto folder = configString("backupFolder");
    if (!folder)
        return;

    if (m_backupWork)
        m_services.mainQueue.cancel(*m_backupWork);

    // The job captures the folder now: removing the setting later does not redirect or stop it.
    m_backupWork = m_services.mainQueue.after(backupDelay, [this, target = fs::path(*folder) / backupFileName, bytes = std::string(bytes)]() mutable {
        // A drive that isn't mounted leaves an empty folder behind; a copy made there would
        // never reach the drive.
        if (onMissingDrive(target.parent_path())) {
            m_lastBackupError = "Quillpost couldn't write its backup copy into your Google Drive (\"" + target.parent_path().string()
                + "\"): the drive isn't available. It may not be mounted, running or signed in; the copy is written with the first save once it is back.";
            return;
        }
        handOverBackup(std::move(target), std::move(bytes));
    });
}

void Store::handOverBackup(fs::path target, std::string bytes)
{
    auto handOver = m_backupHandOver;
    {
        const std::lock_guard guard(handOver->lock);
        handOver->waiting[std::move(target)] = std::move(bytes);
        if (handOver->writerQueued)
            return;
        handOver->writerQueued = true;
    }
    m_services.backgroundQueue.async([self = std::weak_ptr<Store*>(m_self), handOver, &mainQueue = m_services.mainQueue] {
        while (true) {
            std::pair<fs::path, std::string> job;
            {
                const std::lock_guard guard(handOver->lock);
                if (handOver->waiting.empty()) {
                    handOver->writerQueued = false;
                    return;
                }
                auto next = handOver->waiting.begin();
                job = { next->first, std::move(next->second) };
                handOver->waiting.erase(next);
            }
            if (self.expired())
                continue;
            std::string outcome;
            try {
                atomicWrite(job.first, job.second);
            } catch (const std::exception& error) {
                outcome = error.what();
            }
            // The outcome is the main thread's to keep, like every other field of the store.
            mainQueue.post([self, outcome = std::move(outcome)] {
                if (const auto store = self.lock())
                    (*store)->m_lastBackupError = outcome;
            });
        }
    });
}

std::optional<Store::RecoveryCopy> Store::recoveryCopy() const
{
    const auto current = readFile(data());

    struct Candidate {
        std::string name;
        fs::path path;
        Clock::TimePoint modified;
    };
    std::vector<Candidate> candidates;
    auto consider = [&candidates](std::string name, fs::path path) {
        const auto modified = modificationTime(path);
        if (modified)
            candidates.push_back({ std::move(name), std::move(path), *modified });
    };

    consider("data.json.bak", m_dir / "data.json.bak");
    for (std::string& name : namesInFolder(snapshotsDir())) {
        if (std::regex_match(name, recoveryPattern()))
            consider(name, snapshotsDir() / name);
    }

    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& first, const Candidate& second) {
        return first.modified > second.modified;
    });

    for (const Candidate& candidate : candidates) {
        const auto content = readFile(candidate.path);
        if (!content || (current && *content == *current) || !openable(*content))
            continue;
        return RecoveryCopy { candidate.name, isoTime(candidate.modified) };
    }
    return std::nullopt;
}

void Store::restore(std::string_view name, std::optional<std::string_view> sealedContent, PlainOverSealed plainOverSealed)
{
    if (!isRestorableName(name))
        throw refusedRestore();
    const std::string source = readFileOrFail(copyPath(name));
    if (!openable(source))
        throw refusedRestore();
    // The page's encrypted form of the copy stands in for it only when it is that form whole.
    if (sealedContent && (!isSealedDocument(*sealedContent) || !openable(*sealedContent)))
        throw refusedRestore();
    const std::string_view content = sealedContent ? *sealedContent : std::string_view(source);

    const auto current = readFile(data());
    if (current && plainOverSealed == PlainOverSealed::Refuse && isSealedDocument(*current) && !isSealedDocument(content))
        throw QuillpostError(4, "This copy isn't encrypted, and your data is, so Quillpost didn't restore it. Nothing was changed.");

    if (current) {
        try {
            atomicWrite(snapshotsDir() / ("before-restore-" + milliseconds() + ".json"), *current);
        } catch (const FileError&) {
            // The restore goes ahead: the user asked for it, and .bak still holds the previous state.
        }
    }

    atomicWrite(data(), content);
}

std::optional<std::string> Store::copyText(std::string_view name) const
{
    if (!isRestorableName(name))
        return std::nullopt;
    const auto bytes = readFile(copyPath(name));
    if (!bytes)
        return std::nullopt;
    return validUtf8(*bytes);
}

fs::path Store::copyPath(std::string_view name) const
{
    if (name == "data.json.bak")
        return m_dir / "data.json.bak";
    if (name == backupFileName) {
        // With no backup folder set there is no such copy; the empty path fails to read.
        const auto folder = configString("backupFolder");
        return folder ? fs::path(*folder) / backupFileName : fs::path();
    }
    return snapshotsDir() / name;
}

bool Store::isKeptCopyName(std::string_view name)
{
    return isSafetyCopy(name) || std::regex_match(name.begin(), name.end(), dailyPattern());
}

bool Store::isRestorableName(std::string_view name)
{
    // No file name is longer than 255 bytes, and the pattern matcher recurses once per character.
    if (name.size() > 255)
        return false;
    return name == "data.json.bak" || name == backupFileName || std::regex_match(name.begin(), name.end(), restorePattern());
}

std::vector<Store::BackupCandidate> Store::backupCandidates() const
{
    std::vector<BackupCandidate> candidates;
    auto add = [&candidates](std::string source, const fs::path& path) {
        const auto content = readFile(path);
        const auto modified = modificationTime(path);
        if (!content || !modified)
            return;
        candidates.push_back({ std::move(source), path.filename().string(), isoTime(*modified), content->size(), validUtf8(*content) });
    };

    if (const auto folder = configString("backupFolder"))
        add("Backup folder", fs::path(*folder) / backupFileName);

    const std::vector<std::string> daily = snapshots();
    for (size_t index = 0; index < std::min(daily.size(), dailySnapshotsOffered); ++index)
        add("Daily snapshot", snapshotsDir() / daily[index]);

    std::stable_sort(candidates.begin(), candidates.end(), [](const BackupCandidate& first, const BackupCandidate& second) {
        return first.at > second.at;
    });
    return candidates;
}

std::optional<Clock::TimePoint> Store::modificationTime(const fs::path& path)
{
    struct stat information {};
    if (::stat(path.c_str(), &information))
        return std::nullopt;
    const auto sinceEpoch = std::chrono::seconds(information.st_mtim.tv_sec) + std::chrono::nanoseconds(information.st_mtim.tv_nsec);
    return Clock::TimePoint(std::chrono::duration_cast<Clock::TimePoint::duration>(sinceEpoch));
}

std::string Store::isoTime(Clock::TimePoint time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc {};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    const size_t length = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

}
