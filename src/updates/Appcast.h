#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

// One release offered by the update feed: an RSS item with its enclosure.
struct AppcastItem {
    std::string title;
    std::string version; // the build number that releases are compared by
    std::string shortVersion; // what people see, such as 0.3.1
    std::string url; // the archive
    std::uint64_t length { 0 };
    std::string signature; // Base64 Ed25519 signature of the archive's bytes
};

// The items of an appcast (RSS 2.0 with Sparkle's namespace) that have an archive to download.
// Nothing when the text is not such a feed; error then says why.
std::optional<std::vector<AppcastItem>> parseAppcast(std::string_view xml, std::string& error);

// Compares two version strings part by part: digits as numbers, other runs as text, so
// 1.10 > 1.9 and 2.0b2 > 2.0b1. Negative, zero or positive.
int compareVersions(std::string_view, std::string_view);

// The newest item newer than the running version, if any.
std::optional<AppcastItem> newestUpdate(const std::vector<AppcastItem>&, std::string_view runningVersion);

}
