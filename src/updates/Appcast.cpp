#include "updates/Appcast.h"

#include <charconv>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <memory>

namespace quillpost {

namespace {

constexpr const char* sparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

// xmlFree is a variable holding the library's free function, so it needs a wrapper of its own.
struct XmlFree {
    void operator()(xmlChar* text) const { xmlFree(text); }
};
using XmlText = std::unique_ptr<xmlChar, XmlFree>;

bool named(const xmlNode* node, const char* name, const char* space = nullptr)
{
    if (!node || node->type != XML_ELEMENT_NODE || xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)))
        return false;
    if (!space)
        return !node->ns;
    return node->ns && node->ns->href && !xmlStrcmp(node->ns->href, reinterpret_cast<const xmlChar*>(space));
}

std::string textOf(const xmlNode* node)
{
    XmlText text(xmlNodeGetContent(node));
    return text ? std::string(reinterpret_cast<const char*>(text.get())) : std::string();
}

std::string attribute(const xmlNode* node, const char* name, const char* space = nullptr)
{
    XmlText value(space ? xmlGetNsProp(node, reinterpret_cast<const xmlChar*>(name), reinterpret_cast<const xmlChar*>(space))
                        : xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name)));
    return value ? std::string(reinterpret_cast<const char*>(value.get())) : std::string();
}

std::string trimmed(std::string text)
{
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<AppcastItem> itemOf(const xmlNode* item)
{
    AppcastItem result;
    const xmlNode* enclosure = nullptr;
    for (auto* child = item->children; child; child = child->next) {
        if (named(child, "title"))
            result.title = trimmed(textOf(child));
        else if (named(child, "version", sparkleNamespace))
            result.version = trimmed(textOf(child));
        else if (named(child, "shortVersionString", sparkleNamespace))
            result.shortVersion = trimmed(textOf(child));
        else if (named(child, "enclosure") && !enclosure)
            enclosure = child;
    }
    if (!enclosure)
        return std::nullopt;
    result.url = attribute(enclosure, "url");
    result.signature = attribute(enclosure, "edSignature", sparkleNamespace);
    // Older feeds carry the versions on the enclosure.
    if (result.version.empty())
        result.version = attribute(enclosure, "version", sparkleNamespace);
    if (result.shortVersion.empty())
        result.shortVersion = attribute(enclosure, "shortVersionString", sparkleNamespace);
    if (result.shortVersion.empty())
        result.shortVersion = result.version;
    auto length = attribute(enclosure, "length");
    std::from_chars(length.data(), length.data() + length.size(), result.length);
    if (result.url.empty() || result.version.empty())
        return std::nullopt;
    return result;
}

}

std::optional<std::vector<AppcastItem>> parseAppcast(std::string_view xml, std::string& error)
{
    if (xml.size() > static_cast<std::size_t>(INT32_MAX)) {
        error = "The update feed is too large.";
        return std::nullopt;
    }
    // No network, no external entities, no entity expansion: the feed is only ever data.
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> document(
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "appcast.xml", nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        xmlFreeDoc);
    if (!document) {
        error = "The update feed isn't readable XML.";
        return std::nullopt;
    }
    auto* rss = xmlDocGetRootElement(document.get());
    if (!named(rss, "rss")) {
        error = "The update feed isn't an RSS feed.";
        return std::nullopt;
    }
    std::vector<AppcastItem> items;
    for (auto* channel = rss->children; channel; channel = channel->next) {
        if (!named(channel, "channel"))
            continue;
        for (auto* item = channel->children; item; item = item->next) {
            if (!named(item, "item"))
                continue;
            if (auto parsed = itemOf(item))
                items.push_back(std::move(*parsed));
        }
    }
    return items;
}

int compareVersions(std::string_view a, std::string_view b)
{
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    auto isSeparator = [](char c) { return c == '.' || c == '-' || c == '_' || c == '+' || c == ' '; };
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        while (i < a.size() && isSeparator(a[i]))
            ++i;
        while (j < b.size() && isSeparator(b[j]))
            ++j;
        if (i >= a.size() || j >= b.size()) {
            // 1.0 equals 1.0.0, but 1.0.1 is newer than 1.0, and 2.0 is newer than 2.0b1.
            auto rest = i < a.size() ? a.substr(i) : b.substr(j);
            int sign = i < a.size() ? 1 : -1;
            bool allZero = rest.find_first_not_of("0.") == std::string_view::npos;
            if (allZero)
                return 0;
            return isDigit(rest.front()) ? sign : -sign;
        }
        bool numberA = isDigit(a[i]), numberB = isDigit(b[j]);
        size_t endA = i, endB = j;
        while (endA < a.size() && !isSeparator(a[endA]) && isDigit(a[endA]) == numberA)
            ++endA;
        while (endB < b.size() && !isSeparator(b[endB]) && isDigit(b[endB]) == numberB)
            ++endB;
        auto partA = a.substr(i, endA - i), partB = b.substr(j, endB - j);
        if (numberA && numberB) {
            partA.remove_prefix(std::min(partA.find_first_not_of('0'), partA.size()));
            partB.remove_prefix(std::min(partB.find_first_not_of('0'), partB.size()));
            if (partA.size() != partB.size())
                return partA.size() < partB.size() ? -1 : 1;
            if (int order = partA.compare(partB))
                return order < 0 ? -1 : 1;
        } else if (numberA != numberB) {
            // A release number beats a pre-release tag at the same place.
            return numberA ? 1 : -1;
        } else if (int order = partA.compare(partB)) {
            return order < 0 ? -1 : 1;
        }
        i = endA;
        j = endB;
    }
    return 0;
}

std::optional<AppcastItem> newestUpdate(const std::vector<AppcastItem>& items, std::string_view runningVersion)
{
    const AppcastItem* newest = nullptr;
    for (auto& item : items) {
        if (compareVersions(item.version, runningVersion) > 0 && (!newest || compareVersions(item.version, newest->version) > 0))
            newest = &item;
    }
    return newest ? std::optional<AppcastItem>(*newest) : std::nullopt;
}

}
