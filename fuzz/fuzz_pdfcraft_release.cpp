// The editor's release description, its checksum list and version comparison: text from the
// network that decides what gets downloaded and whether it is installed.
#include "FuzzCheck.h"

#include "pdfcraft/PdfCraftRelease.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

using namespace quillpost;

namespace {

bool isZipName(const std::string& name)
{
    if (!name.starts_with("pdfcraft-web-") || !name.ends_with(".zip") || name.size() <= 17)
        return false;
    return std::all_of(name.begin() + 13, name.end() - 4, [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);

    // The whole input as a release description.
    const Json description = Json::parse(input, nullptr, false);
    if (!description.is_discarded()) {
        const auto release = PdfCraftRelease::from(description);
        FUZZ_CHECK(release.zipName.empty() || isZipName(release.zipName));
        FUZZ_CHECK(!release.zipURL || !release.zipName.empty());
        for (const auto& url : { release.zipURL, release.sumsURL })
            FUZZ_CHECK(!url || url->starts_with("https://") || url->starts_with("http://"));
    }

    // Two version texts and a checksum list, separated by the first two NULs.
    const auto first = input.find('\0');
    const auto second = first == std::string::npos ? std::string::npos : input.find('\0', first + 1);
    const std::string a = input.substr(0, first);
    const std::string b = first == std::string::npos ? std::string() : input.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    const std::string list = second == std::string::npos ? input : input.substr(second + 1);

    FUZZ_CHECK(!PdfCraftRelease::newer(a, a));
    FUZZ_CHECK(!(PdfCraftRelease::newer(a, b) && PdfCraftRelease::newer(b, a)));
    const std::string found = PdfCraftRelease::versionIn(a);
    FUZZ_CHECK(found.empty() || a.find(found) != std::string::npos);

    const std::string digest = PdfCraftRelease::sha256(b);
    FUZZ_CHECK(digest.size() == 64);
    const std::string zipName = "pdfcraft-web-2.5.zip";
    // A list can only match by naming the digest itself, in any case, on a line ending in the name.
    if (PdfCraftRelease::checksumMatches(list, zipName, digest)) {
        FUZZ_CHECK(lower(list).find(digest) != std::string::npos);
        FUZZ_CHECK(list.find(zipName) != std::string::npos);
    }
    FUZZ_CHECK(PdfCraftRelease::checksumMatches(list + "\n" + digest + "  " + zipName + "\n", zipName, digest)
        || list.find(zipName) != std::string::npos);
    return 0;
}
