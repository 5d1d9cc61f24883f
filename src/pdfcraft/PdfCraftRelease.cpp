#include "pdfcraft/PdfCraftRelease.h"

#include "common/Utf8.h"
#include "net/Deployment.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <openssl/evp.h>
#include <vector>

namespace quillpost {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string stringField(const Json& object, const char* key)
{
    auto field = object.find(key);
    return field != object.end() && field->is_string() ? field->get<std::string>() : std::string();
}

// Downloads go over the web only; a listing can't point the download at a local file.
std::optional<std::string> downloadURL(const Json& asset)
{
    std::string url = stringField(asset, "browser_download_url");
    if (url.starts_with("https://") || url.starts_with("http://"))
        return url;
    return std::nullopt;
}

bool isZipName(std::string_view name)
{
    constexpr std::string_view prefix = "pdfcraft-web-";
    constexpr std::string_view suffix = ".zip";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
        return false;
    auto middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return std::all_of(middle.begin(), middle.end(), [](char c) { return isDigit(c) || c == '.'; });
}

// A plain decimal integer, optionally signed; anything else counts 0.
long long versionPart(std::string_view part)
{
    if (part.starts_with('+'))
        part.remove_prefix(1);
    if (part.empty() || (part.size() == 1 && part[0] == '-'))
        return 0;
    long long value = 0;
    auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (error != std::errc() || end != part.data() + part.size())
        return 0;
    return value;
}

std::vector<long long> versionParts(std::string_view version)
{
    std::vector<long long> parts;
    size_t start = 0;
    while (start <= version.size()) {
        auto dot = version.find('.', start);
        auto part = version.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (!part.empty())
            parts.push_back(versionPart(part));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return parts;
}

std::string_view trimmed(std::string_view line)
{
    auto first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

}

std::string PdfCraftRelease::listingURL()
{
    if (std::getenv("QUILLPOST_SELFTEST")) {
        if (const char* url = std::getenv("QUILLPOST_PDFCRAFT_RELEASES_URL"); url && *url)
            return url;
    }
    return Deployment::pdfcraftReleasesURL;
}

PdfCraftRelease PdfCraftRelease::from(const Json& description)
{
    PdfCraftRelease release;
    if (!description.is_object())
        return release;
    release.version = stringField(description, "tag_name");
    if (release.version.starts_with('v'))
        release.version.erase(0, 1);
    release.date = stringField(description, "published_at");
    release.page = stringField(description, "html_url");

    auto assets = description.find("assets");
    if (assets == description.end() || !assets->is_array())
        return release;
    if (!std::all_of(assets->begin(), assets->end(), [](const Json& asset) { return asset.is_object(); }))
        return release;
    bool zipFound = false;
    bool sumsFound = false;
    for (auto& asset : *assets) {
        auto name = asset.find("name");
        if (name == asset.end() || !name->is_string())
            continue;
        const auto& text = name->get_ref<const std::string&>();
        if (!zipFound && isZipName(text)) {
            zipFound = true;
            release.zipName = text;
            release.zipURL = downloadURL(asset);
        } else if (!sumsFound && text == "SHA256SUMS.txt") {
            sumsFound = true;
            release.sumsURL = downloadURL(asset);
        }
    }
    return release;
}

bool PdfCraftRelease::newer(std::string_view a, std::string_view b)
{
    const auto left = versionParts(a);
    const auto right = versionParts(b);
    for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        long long x = i < left.size() ? left[i] : 0;
        long long y = i < right.size() ? right[i] : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

bool PdfCraftRelease::checksumMatches(std::string_view list, std::string_view zipName, std::string_view digest)
{
    const std::string text = validUtf8(list);
    std::string_view rest(text);
    while (!rest.empty()) {
        auto newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        if (line.empty())
            continue;
        line = trimmed(line);
        // A carriage return is not trimmed: a list with CRLF line ends names no file.
        if (!line.ends_with(zipName))
            continue;
        auto fieldStart = line.find_first_not_of(" \t");
        if (fieldStart == std::string_view::npos)
            return false;
        auto field = line.substr(fieldStart, line.find_first_of(" \t", fieldStart) - fieldStart);
        std::string lower(field);
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return lower == digest;
    }
    return false;
}

std::string PdfCraftRelease::sha256(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr))
        return {};
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(hex[digest[i] >> 4]);
        text.push_back(hex[digest[i] & 0xF]);
    }
    return text;
}

std::string PdfCraftRelease::versionIn(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        if (!isDigit(text[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && isDigit(text[end]))
            ++end;
        if (end + 1 < text.size() && text[end] == '.' && isDigit(text[end + 1])) {
            // Every further ".digits" belongs to the same number.
            size_t after = end;
            while (after + 1 < text.size() && text[after] == '.' && isDigit(text[after + 1])) {
                ++after;
                while (after < text.size() && isDigit(text[after]))
                    ++after;
            }
            return std::string(text.substr(i, after - i));
        }
        i = end;
    }
    return {};
}

}
