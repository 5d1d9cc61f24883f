#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// Installs a verified release into the program's own prefix (the folder holding bin/ and share/)
// by unpacking it beside the prefix and swapping the two folders. The tree it replaces is kept as
// the previous one until the new version has shown its page once; a new version that never gets
// that far is swapped back out.
class UpdateInstaller {
public:
    enum class StartOutcome { Normal, Trying, RolledBack };

    explicit UpdateInstaller(std::filesystem::path prefix);

    const std::filesystem::path& prefix() const { return m_prefix; }
    std::filesystem::path executable() const { return m_prefix / "bin" / "quillpost"; }
    std::filesystem::path previousTree() const;
    std::filesystem::path stagingFolder(std::string_view version) const;

    // Why this copy can't update itself (a system package, a read-only folder, a build folder).
    std::optional<std::string> cannotInstall() const;

    // Unpacks the archive beside the prefix and answers the staged tree. Throws FileError.
    std::filesystem::path stage(std::string_view archive, std::string_view version) const;

    // Moves the prefix aside as the previous tree and the staged tree into its place, noting the
    // trial in the new tree. Throws FileError, with everything as it was.
    void swapIn(const std::filesystem::path& stagedTree, std::string_view fromVersion, std::string_view toVersion) const;

    // Puts the previous tree back in place; the failed one is removed.
    bool rollBack() const;

    // The new version showed its page: the previous tree and the trial note go.
    void commit() const;

    // Called first thing at start. A trial that already started twice without showing its page
    // is rolled back (the caller then runs the previous version again).
    StartOutcome atStart() const;

    static constexpr int allowedTrialStarts = 2;

private:
    std::filesystem::path trialNote() const;

    std::filesystem::path m_prefix;
};

}
