#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace quillpost {

// The marker of an installed copy: share/quillpost/install-manifest, which the install rules and
// the tarball write. It names the version the tree holds and every file the install put there,
// relative to the prefix:
//
//   Quillpost install manifest 1
//   version 0.1.0
//   bin/quillpost
//   share/quillpost/app/index.html
//   ...
//
// A folder holds only Quillpost when every entry in it is a listed file or a folder on the way to
// one; only such a folder is ever moved or removed by an update.
struct InstallManifest {
    static constexpr std::string_view firstLine = "Quillpost install manifest 1";
    static constexpr std::size_t maximumBytes = 4 * 1024 * 1024;
    static constexpr std::size_t maximumVersionLength = 64;

    std::string version;
    std::set<std::string> files;

    // The manifest's place inside a tree.
    static std::filesystem::path location(const std::filesystem::path& tree);

    // Nothing when the text isn't a manifest; error then says why.
    static std::optional<InstallManifest> parse(std::string_view text, std::string& error);
    static std::optional<InstallManifest> read(const std::filesystem::path& tree, std::string& error);

    // The first entry of the tree that is not this program's (a path relative to the tree), or
    // nothing when the tree holds only what the manifest lists.
    std::optional<std::string> strangerIn(const std::filesystem::path& tree) const;

    // Why the tree may hold more than one installed copy of Quillpost, or nothing when it holds
    // exactly that: a readable manifest and no entry it doesn't account for.
    static std::optional<std::string> whyNotOnlyOurs(const std::filesystem::path& tree);
};

}
