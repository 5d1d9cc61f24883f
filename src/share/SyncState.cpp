#include "share/SyncState.h"

#include "common/Files.h"
#include "common/JsonText.h"
#include "store/Store.h"

namespace quillpost {

namespace {

template<typename T>
T member(const Json& object, const char* name)
{
    auto found = object.find(name);
    if (found == object.end())
        throw SyncStateDamaged(std::string("no ") + name);
    try {
        return found->get<T>();
    } catch (const Json::exception&) {
        throw SyncStateDamaged(std::string("bad ") + name);
    }
}

}

Json SyncState::toJson() const
{
    Json records = Json::object();
    for (auto& [key, base] : bases) {
        Json entry { { "rev", base.rev }, { "body", base.body } };
        if (base.awaiting)
            entry["awaiting"] = *base.awaiting;
        if (base.awaiting && !base.given.empty())
            entry["given"] = base.given;
        records[key.collection][key.id] = std::move(entry);
    }
    return Json {
        { "version", 1 },
        { "server", { { "host", server.host }, { "port", server.port }, { "database", server.database }, { "user", server.user } } },
        { "desk", desk },
        { "lastRev", lastRev },
        { "joining", joining },
        { "records", std::move(records) },
    };
}

SyncState SyncState::fromJson(const Json& document)
{
    if (!document.is_object() || member<int>(document, "version") != 1)
        throw SyncStateDamaged("not a sync state");
    SyncState state;
    const Json serverPart = member<Json>(document, "server");
    if (!serverPart.is_object())
        throw SyncStateDamaged("bad server");
    state.server.host = member<std::string>(serverPart, "host");
    state.server.port = member<int>(serverPart, "port");
    state.server.database = member<std::string>(serverPart, "database");
    state.server.user = member<std::string>(serverPart, "user");
    state.desk = member<std::string>(document, "desk");
    state.lastRev = member<std::int64_t>(document, "lastRev");
    state.joining = member<bool>(document, "joining");
    if (state.desk.empty() || state.server.host.empty() || state.lastRev < 0)
        throw SyncStateDamaged("incomplete");
    const Json records = member<Json>(document, "records");
    if (!records.is_object())
        throw SyncStateDamaged("bad records");
    for (auto& [collection, entries] : records.items()) {
        if (!entries.is_object())
            throw SyncStateDamaged("bad records");
        for (auto& [id, entry] : entries.items()) {
            if (!entry.is_object())
                throw SyncStateDamaged("bad record");
            RecordBase base;
            base.rev = member<std::int64_t>(entry, "rev");
            base.body = member<Json>(entry, "body");
            if (entry.contains("awaiting"))
                base.awaiting = entry["awaiting"];
            if (entry.contains("given")) {
                const Json given = entry["given"];
                if (!given.is_array())
                    throw SyncStateDamaged("bad given");
                base.given.assign(given.begin(), given.end());
            }
            state.bases.emplace(RecordKey { collection, id }, std::move(base));
        }
    }
    return state;
}

std::optional<SyncState> SyncState::read(const std::filesystem::path& file)
{
    auto bytes = readFile(file);
    if (!bytes)
        return std::nullopt;
    const Json document = parseJsonText(*bytes);
    if (document.is_discarded())
        throw SyncStateDamaged("does not parse");
    return fromJson(document);
}

void SyncState::write(const std::filesystem::path& file) const
{
    Store::atomicWrite(file, toJson().dump(-1, ' ', false, Json::error_handler_t::replace));
}

}
