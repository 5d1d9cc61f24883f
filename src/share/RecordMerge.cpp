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
    for (auto& entry : added)
        keep(entry);
    std::sort(result.begin(), result.end(), before);
    return Json(result);
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

    // An edit overrules a deletion; the deletion is remembered beside the values that lost.
    if (local.is_null() || server.is_null()) {
        const bool localDeleted = local.is_null();
        const Json& edited = localDeleted ? server : local;
        if (!edited.is_object())
            return edited;
        Json result = edited;
        result[conflictsField] = mergedConflicts(base, local, server, { conflictEntry(deletedField, nullptr, localDeleted ? localStamp : serverStamp) });
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
            const bool inWinner = winner.contains(field);
            chosen = inWinner ? &fieldOf(winner, field) : nullptr;
            lost.push_back(conflictEntry(field, loser.contains(field) ? fieldOf(loser, field) : absent, losingStamp));
        }
        if (chosen)
            result[field] = *chosen;
    }
    Json conflicts = mergedConflicts(base, local, server, std::move(lost));
    if (!conflicts.empty() || local.contains(conflictsField) || server.contains(conflictsField))
        result[conflictsField] = std::move(conflicts);
    return result;
}

}
