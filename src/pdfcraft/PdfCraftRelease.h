#pragma once

#include "common/Json.h"

#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// A release of the editor as its code-hosting site describes it, and the checks its files pass.
struct PdfCraftRelease {
    std::string version;
    std::optional<std::string> zipURL;
    std::string zipName;
    std::optional<std::string> sumsURL;
    std::string date;
    std::string page;

    // The address of the editor's latest-release description: the deployment's, or in a self-test
    // QUILLPOST_PDFCRAFT_RELEASES_URL when it is set.
    static std::string listingURL();

    // From the release description; anything missing or of the wrong type reads as absent.
    static PdfCraftRelease from(const Json& description);

    // Whether version a is newer than b, compared number by number ("2.10" is newer than "2.9").
    static bool newer(std::string_view a, std::string_view b);

    // Whether the checksum list names this digest (64 lower-case hex digits) for the zip.
    static bool checksumMatches(std::string_view list, std::string_view zipName, std::string_view digest);

    // SHA-256 as 64 lower-case hex digits.
    static std::string sha256(std::string_view bytes);

    // The first version number in a text, whole ("PdfCraft web 2.4.1 (installed …)" → "2.4.1"):
    // digits with at least one dot, or "". Installed and offered versions are then compared by newer().
    static std::string versionIn(std::string_view text);
};

}
