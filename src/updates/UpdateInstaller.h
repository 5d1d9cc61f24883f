#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// Installs a verified release into the program's own prefix (the folder holding bin/ and share/)
// by unpacking it beside the prefix and swapping the two folders. Only a folder whose install
// manifest accounts for everything in it is ever moved or removed (InstallManifest). The tree it
// replaces is kept as the previous one until the new version has shown its page once; a new
// version that never gets that far is swapped back out.
class UpdateInstaller {
public:
    enum class StartOutcome { Normal, Trying, RolledBack };

    // An unpacked release waiting beside the prefix.
    struct Staged {
        std::filesystem::path folder; // the staging folder, removed once the tree has moved out
        std::filesystem::path tree; // the installed tree inside it
        std::string version; // what the tree's own manifest says it holds
    };

    explicit UpdateInstaller(std::filesystem::path prefix);

    const std::filesystem::path& prefix() const { return m_prefix; }
    std::filesystem::path executable() const { return m_prefix / "bin" / "quillpost"; }
    std::filesystem::path previousTree() const;
    // Beside the prefix, named after the version as one safe folder-name component.
    std::filesystem::path stagingFolder(std::string_view version) const;

    // Why this copy can't update itself (a system package, a read-only folder, a build folder, a
    // folder it shares with other software).
    std::optional<std::string> cannotInstall() const;

    // Unpacks the archive beside the prefix and checks the version its manifest names: it must be
    // the announced one and newer than the running one. Throws FileError, leaving nothing behind.
    Staged stage(std::string_view archive, std::string_view announcedVersion, std::string_view runningVersion) const;

    // Moves the prefix aside as the previous tree and the staged tree into its place, noting the
    // trial in the new tree. Throws FileError, with everything as it was.
    void swapIn(const Staged&, std::string_view fromVersion) const;

    // Puts the previous tree back in place; the failed one is removed.
    bool rollBack() const;

    // The new version showed its page: the trial note goes, and the previous tree with it when
    // it holds only Quillpost. Answers why a previous tree was kept.
    std::optional<std::string> commit() const;

    // Called first thing at start. A trial that already started twice without showing its page
    // is rolled back (the caller then runs the previous version again).
    StartOutcome atStart() const;

    static constexpr int allowedTrialStarts = 2;

private:
    std::filesystem::path trialNote() const;
    // Why the prefix's folder isn't Quillpost's alone, as a sentence for the user.
    std::optional<std::string> sharedFolder() const;

    std::filesystem::path m_prefix;
};

}
