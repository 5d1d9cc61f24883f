#include "share/RecordMerge.h"

#include <algorithm>
#include <ctime>
#include <set>
#include <vector>

namespace quillpost::RecordMerge {

namespace {

const Json& fieldOf(const Json& record, const std::string& field)
{
    static const Json absent;
    if (!record.is_object())
        return absent;
    auto found = record.find(field);
    return found == record.end() ? absent : *found;
}

std::vector<Json> conflictsOf(const Json& record)
{
    const Json& list = fieldOf(record, conflictsField);
    if (!list.is_array())
        return {};
    return { list.begin(), list.end() };
}

bool contains(const std::vector<Json>& list, const Json& entry)
{
    return std::find(list.begin(), list.end(), entry) != list.end();
}

Json conflictEntry(const std::string& field, const Json& value, const Stamp& stamp)
{
    return Json { { "field", field }, { "value", value }, { "desk", stamp.desk }, { "at", isoMilliseconds(stamp.at) } };
}

// A fixed order for conflict entries: by time, desk, field, then the value's text.
bool before(const Json& first, const Json& second)
{
    auto key = [](const Json& entry) {
        auto text = [&](const char* name) {
            const Json& value = fieldOf(entry, name);
            return value.is_string() ? value.get<std::string>() : value.dump();
        };
        return std::tuple(text("at"), text("desk"), text("field"), entry.dump());
    };
    return key(first) < key(second);
}

// The entries a side holds that its base didn't: values set aside in merges the base hadn't seen.
std::vector<Json> addedSince(const Json& base, const Json& side)
{
    const auto baseList = conflictsOf(base);
    std::vector<Json> added;
    for (auto& entry : conflictsOf(side)) {
        if (!contains(baseList, entry))
            added.push_back(entry);
    }
    return added;
}

bool setAside(const std::vector<Json>& entries, const std::string& field, const Json& value)
{
    return std::any_of(entries.begin(), entries.end(), [&](const Json& entry) {
        return fieldOf(entry, "field") == field && entry.is_object() && entry.contains("value") && entry["value"] == value;
    });
}

// Entries both sides kept, and those either side added since the base.
Json mergedConflicts(const Json& base, const Json& local, const Json& server, std::vector<Json> added)
{
    const auto baseList = conflictsOf(base);
    const auto localList = conflictsOf(local);
    const auto serverList = conflictsOf(server);
    std::vector<Json> result;
    auto keep = [&](const Json& entry) {
        if (!contains(result, entry))
            result.push_back(entry);
    };
    for (auto& entry : localList) {
        if (contains(serverList, entry) || !contains(baseList, entry))
            keep(entry);
    }
    for (auto& entry : serverList) {
        if (!contains(baseList, entry))
            keep(entry);
    }
    // A value already set aside for the field (by an earlier round of this same merge) isn't added twice.
    for (auto& entry : added) {
        if (!setAside(result, fieldOf(entry, "field").get<std::string>(), entry["value"]))
            keep(entry);
    }
    std::sort(result.begin(), result.end(), before);
    return Json(result);
}

// A value set aside that the record shows again needs no choosing.
Json withoutShown(const Json& record, const Json& conflicts)
{
    Json kept = Json::array();
    for (auto& entry : conflicts) {
        const Json& field = fieldOf(entry, "field");
        // (A null entry may stand for a field that was gone: it is never taken for the value shown.)
        const bool shown = field.is_string() && field != deletedField && record.contains(field.get<std::string>()) && entry.contains("value")
            && !entry["value"].is_null() && entry["value"] == record[field.get<std::string>()];
        if (!shown)
            kept.push_back(entry);
    }
    return kept;
}

}

std::string isoMilliseconds(std::int64_t at)
{
    const std::time_t seconds = static_cast<std::time_t>(at >= 0 ? at / 1000 : (at - 999) / 1000);
    const int milliseconds = static_cast<int>(at - std::int64_t(seconds) * 1000);
    std::tm parts {};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
        parts.tm_hour, parts.tm_min, parts.tm_sec, milliseconds);
    return text;
}

Json merge(const Json& base, const Json& local, const Stamp& localStamp, const Json& server, const Stamp& serverStamp)
{
    if (local == server)
        return local;
    if (local == base)
        return server;
    if (server == base)
        return local;

    const bool localWins = localStamp > serverStamp;
    const Json& winner = localWins ? local : server;
    const Json& loser = localWins ? server : local;
    const Stamp& losingStamp = localWins ? serverStamp : localStamp;

    // An edit overrules a deletion; the deletion is remembered beside the values that lost. A
    // deletion removes no entry from the list, and one the edited side already notes (this same
    // deletion merged before, by a desk that went down before it recorded so) isn't noted twice.
    if (local.is_null() || server.is_null()) {
        const bool localDeleted = local.is_null();
        const Json& edited = localDeleted ? server : local;
        if (!edited.is_object())
            return edited;
        std::vector<Json> lost;
        if (!setAside(addedSince(base, edited), deletedField, nullptr))
            lost.push_back(conflictEntry(deletedField, nullptr, localDeleted ? localStamp : serverStamp));
        Json result = edited;
        result[conflictsField] = withoutShown(result, localDeleted ? mergedConflicts(base, base, server, std::move(lost)) : mergedConflicts(base, local, base, std::move(lost)));
        return result;
    }

    // A record that isn't an object has no fields to merge: it goes whole to the later write.
    if (!local.is_object() || !server.is_object())
        return winner;

    std::set<std::string> fields;
    for (auto& [field, value] : local.items())
        fields.insert(field);
    for (auto& [field, value] : server.items())
        fields.insert(field);
    fields.erase(conflictsField);

    static const Json absent;
    const auto localAdded = addedSince(base, local);
    const auto serverAdded = addedSince(base, server);
    Json result = Json::object();
    std::vector<Json> lost;
    for (auto& field : fields) {
        const Json& localValue = fieldOf(local, field);
        const Json& serverValue = fieldOf(server, field);
        const Json& baseValue = fieldOf(base, field);
        const bool inLocal = local.contains(field);
        const bool inServer = server.contains(field);
        const bool inBase = base.is_object() && base.contains(field);
        const bool localSame = inLocal == inBase && localValue == baseValue;
        const bool serverSame = inServer == inBase && serverValue == baseValue;
        const bool sidesAgree = inLocal == inServer && localValue == serverValue;

        const Json* chosen = nullptr;
        if (sidesAgree || serverSame)
            chosen = inLocal ? &localValue : nullptr;
        else if (localSame)
            chosen = inServer ? &serverValue : nullptr;
        else {
            // A value one side already set aside against the other's lost that merge before: a
            // desk repeating a merge it had sent but not recorded gets the same outcome again.
            const bool localLostBefore = setAside(serverAdded, field, localValue);
            const bool serverLostBefore = setAside(localAdded, field, serverValue);
            if (localLostBefore != serverLostBefore)
                chosen = localLostBefore ? (inServer ? &serverValue : nullptr) : (inLocal ? &localValue : nullptr);
            else {
                const bool inWinner = winner.contains(field);
                chosen = inWinner ? &fieldOf(winner, field) : nullptr;
                lost.push_back(conflictEntry(field, loser.contains(field) ? fieldOf(loser, field) : absent, losingStamp));
            }
        }
        if (chosen)
            result[field] = *chosen;
    }
    Json conflicts = withoutShown(result, mergedConflicts(base, local, server, std::move(lost)));
    if (!conflicts.empty() || local.contains(conflictsField) || server.contains(conflictsField))
        result[conflictsField] = std::move(conflicts);
    return result;
}

}
