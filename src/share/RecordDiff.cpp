#include "share/RecordDiff.h"

#include <algorithm>
#include <set>

namespace quillpost::RecordDiff {

std::optional<std::string> idText(const Json& id)
{
    if (id.is_string() && !id.get_ref<const std::string&>().empty())
        return id.get<std::string>();
    if (id.is_number_integer())
        return id.dump();
    return std::nullopt;
}

std::map<RecordKey, Json> records(const Json& document)
{
    std::map<RecordKey, Json> result;
    if (!document.is_object())
        return result;
    for (const char* collection : collections) {
        auto list = document.find(collection);
        if (list == document.end() || !list->is_array())
            continue;
        for (auto& item : *list) {
            if (!item.is_object() || !item.contains("id"))
                continue;
            if (auto id = idText(item["id"]))
                result.emplace(RecordKey { collection, *id }, item);
        }
    }
    auto settings = document.find(settingsKey);
    if (settings != document.end() && settings->is_object())
        result.emplace(RecordKey { settingsKey, settingsKey }, *settings);
    return result;
}

Json editsOnTop(const Json& before, const Json& now, const Json& given)
{
    if (now.is_null() || given.is_null() || !now.is_object() || !given.is_object() || !before.is_object())
        return now;
    Json result = given;
    std::set<std::string> fields;
    for (auto& [field, value] : before.items())
        fields.insert(field);
    for (auto& [field, value] : now.items())
        fields.insert(field);
    for (auto& field : fields) {
        const bool inBefore = before.contains(field);
        const bool inNow = now.contains(field);
        if (inBefore == inNow && (!inNow || before[field] == now[field]))
            continue;
        if (inNow)
            result[field] = now[field];
        else
            result.erase(field);
    }
    return result;
}

std::set<std::string> listedCollections(const Json& document)
{
    std::set<std::string> listed;
    if (!document.is_object())
        return listed;
    for (const char* collection : collections) {
        auto list = document.find(collection);
        if (list != document.end() && list->is_array())
            listed.insert(collection);
    }
    auto settings = document.find(settingsKey);
    if (settings != document.end() && settings->is_object())
        listed.insert(settingsKey);
    return listed;
}

std::vector<Change> localChanges(const std::map<RecordKey, Json>& local, const std::set<std::string>& listed, const std::map<RecordKey, RecordBase>& bases)
{
    static const Json absent;
    std::vector<Change> changes;
    auto consider = [&](const RecordKey& key, const Json& now, const RecordBase* base) {
        const Json& agreed = base ? base->body : absent;
        if (now == agreed)
            return;
        if (base && base->awaiting) {
            if (now == *base->awaiting || std::find(base->given.begin(), base->given.end(), now) != base->given.end())
                return;
            Json edited = editsOnTop(*base->awaiting, now, agreed);
            if (edited != agreed)
                changes.push_back({ key, std::move(edited) });
            return;
        }
        changes.push_back({ key, now });
    };
    for (auto& [key, now] : local) {
        auto base = bases.find(key);
        consider(key, now, base == bases.end() ? nullptr : &base->second);
    }
    for (auto& [key, base] : bases) {
        if (!local.contains(key) && listed.contains(key.collection))
            consider(key, absent, &base);
    }
    return changes;
}

}
