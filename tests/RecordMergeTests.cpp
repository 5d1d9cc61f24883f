#include "share/RecordDiff.h"
#include "share/RecordMerge.h"
#include "share/SyncState.h"

#include "doubles/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace quillpost {

namespace {

using RecordMerge::Stamp;

const Stamp early { 1000, "desk-b" };
const Stamp late { 2000, "desk-a" };
// A desk that went down after sending a merge merges the same change again with a later stamp.
const Stamp other { 1500, "desk-c" };
const Stamp again { 9000, "desk-b" };

Json conflict(const std::string& field, const Json& value, const Stamp& stamp)
{
    return { { "field", field }, { "value", value }, { "desk", stamp.desk }, { "at", RecordMerge::isoMilliseconds(stamp.at) } };
}

struct MergeCase {
    const char* name;
    Json base;
    Json local;
    Stamp localStamp;
    Json server;
    Stamp serverStamp;
    Json expected;
};

}

TEST(RecordMerge, MergesFieldsPicksOneWinnerAndKeepsTheLoser)
{
    const Json base { { "id", "c1" }, { "name", "Ada" }, { "phone", "1" } };
    const Json bo { { "id", "c2" }, { "name", "Bo" } };
    const Json kept = conflict("phone", "0", { 500, "desk-c" });
    const Json resolved = conflict("name", "Old", { 400, "desk-c" });
    const Json added = conflict("email", "x@y", { 600, "desk-d" });
    const Json setAsideB = conflict("name", "Name B", early);
    const Json setAsideA = conflict("name", "Name A", { 1200, "desk-a" });
    const Json deletion = conflict("*deleted*", nullptr, early);
    const MergeCase cases[] = {
        { "fields changed on different sides both stay", base, { { "id", "c1" }, { "name", "Ada L" }, { "phone", "1" } }, late,
            { { "id", "c1" }, { "name", "Ada" }, { "phone", "2" } }, early, { { "id", "c1" }, { "name", "Ada L" }, { "phone", "2" } } },
        { "the later write wins a field both changed", base, { { "id", "c1" }, { "name", "Local" }, { "phone", "1" } }, late,
            { { "id", "c1" }, { "name", "Server" }, { "phone", "1" } }, early,
            { { "id", "c1" }, { "name", "Local" }, { "phone", "1" }, { "conflicts", { conflict("name", "Server", early) } } } },
        { "the same change on both sides is no conflict", base, { { "id", "c1" }, { "name", "Same" }, { "phone", "3" } }, late,
            { { "id", "c1" }, { "name", "Same" }, { "phone", "1" } }, early, { { "id", "c1" }, { "name", "Same" }, { "phone", "3" } } },
        { "a field removed on one side goes", base, { { "id", "c1" }, { "name", "Ada" } }, late, base, early, { { "id", "c1" }, { "name", "Ada" } } },
        { "a field removed against an edit is a conflict", base, { { "id", "c1" }, { "name", "Ada" } }, late,
            { { "id", "c1" }, { "name", "Ada" }, { "phone", "9" } }, early,
            { { "id", "c1" }, { "name", "Ada" }, { "conflicts", { conflict("phone", "9", early) } } } },
        { "an edit overrules a deletion", base, nullptr, late, { { "id", "c1" }, { "name", "Ada B" }, { "phone", "1" } }, early,
            { { "id", "c1" }, { "name", "Ada B" }, { "phone", "1" }, { "conflicts", { conflict("*deleted*", nullptr, late) } } } },
        { "a deletion of an unchanged record stays", base, nullptr, late, base, early, nullptr },
        { "deleted on both sides", base, nullptr, late, nullptr, early, nullptr },
        { "made on both sides with the same id", nullptr, { { "id", "c1" }, { "name", "A" } }, late, { { "id", "c1" }, { "name", "B" } }, early,
            { { "id", "c1" }, { "name", "A" }, { "conflicts", { conflict("name", "B", early) } } } },
        // The conflicts lists merge as sets: here the local desk settled the name conflict, the server's side added one.
        { "an entry settled on one side goes, one added on the other stays",
            { { "id", "c1" }, { "name", "Ada" }, { "phone", "1" }, { "conflicts", { resolved, kept } } },
            { { "id", "c1" }, { "name", "Ada" }, { "phone", "1" }, { "conflicts", { kept } } }, late,
            { { "id", "c1" }, { "name", "Ada" }, { "phone", "2" }, { "conflicts", { resolved, kept, added } } }, early,
            { { "id", "c1" }, { "name", "Ada" }, { "phone", "2" }, { "conflicts", { kept, added } } } },
        { "a new loser joins what both sides hold, each entry once", { { "id", "c1" }, { "name", "Ada" } },
            { { "id", "c1" }, { "name", "L" }, { "conflicts", { kept } } }, late, { { "id", "c1" }, { "name", "S" }, { "conflicts", { kept } } }, early,
            { { "id", "c1" }, { "name", "L" }, { "conflicts", { kept, conflict("name", "S", early) } } } },
        // Repeated against a record that already holds that merge, nothing moves.
        { "a value another desk's later write set aside stays set aside", bo, { { "id", "c2" }, { "name", "Name B" } }, again,
            { { "id", "c2" }, { "name", "Name C" }, { "conflicts", { setAsideB, setAsideA } } }, other,
            { { "id", "c2" }, { "name", "Name C" }, { "conflicts", { setAsideB, setAsideA } } } },
        { "a value the record shows again is no longer set aside", { { "id", "c2" }, { "name", "Bo" }, { "conflicts", { setAsideB, kept } } },
            { { "id", "c2" }, { "name", "Name B" }, { "conflicts", { setAsideB, kept } } }, again,
            { { "id", "c2" }, { "name", "Bo" }, { "phone", "2" }, { "conflicts", { setAsideB, kept } } }, other,
            { { "id", "c2" }, { "name", "Name B" }, { "phone", "2" }, { "conflicts", { kept } } } },
        { "a value already set aside isn't set aside twice", bo, { { "id", "c2" }, { "name", "Name B" }, { "conflicts", { conflict("name", "Name C", other) } } },
            again, { { "id", "c2" }, { "name", "Name C" }, { "conflicts", { setAsideB } } }, other,
            { { "id", "c2" }, { "name", "Name B" }, { "conflicts", { conflict("name", "Name C", other) } } } },
        { "a deletion the record already notes isn't noted twice", bo, nullptr, again,
            { { "id", "c2" }, { "name", "Bo K" }, { "conflicts", { deletion } } }, other,
            { { "id", "c2" }, { "name", "Bo K" }, { "conflicts", { deletion } } } },
        { "a deletion removes no value set aside before", { { "id", "c2" }, { "name", "Bo" }, { "conflicts", { kept } } }, nullptr, again,
            { { "id", "c2" }, { "name", "Bo K" }, { "conflicts", { kept } } }, other,
            { { "id", "c2" }, { "name", "Bo K" }, { "conflicts", { kept, conflict("*deleted*", nullptr, again) } } } },
    };
    // Whichever desk does the merge, the result is the same: each case runs from both sides.
    for (auto& item : cases) {
        EXPECT_EQ(RecordMerge::merge(item.base, item.local, item.localStamp, item.server, item.serverStamp), item.expected) << item.name;
        EXPECT_EQ(RecordMerge::merge(item.base, item.server, item.serverStamp, item.local, item.localStamp), item.expected) << item.name << " (swapped)";
    }
}

TEST(RecordMerge, TimesAreUtcWithMilliseconds)
{
    EXPECT_EQ(RecordMerge::isoMilliseconds(1714564800123), "2024-05-01T12:00:00.123Z");
    EXPECT_EQ(RecordMerge::isoMilliseconds(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(RecordMerge::isoMilliseconds(-1), "1969-12-31T23:59:59.999Z");
}

TEST(RecordDiff, RecordsAreTheItemsWithIdsAndTheSettings)
{
    const Json document = Json::parse(R"({
        "version": 3,
        "clients": [{ "id": "c1", "name": "Ada" }, { "name": "no id" }, { "id": "" }, { "id": "c1", "name": "second c1" }, "text"],
        "entries": [{ "id": 42, "cents": 100 }, { "id": 1.5 }],
        "invoices": {},
        "settings": { "billing": { "rate": 1 } },
        "other": [{ "id": "x" }]
    })");
    const auto records = RecordDiff::records(document);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records.at({ "clients", "c1" })["name"], "Ada");
    EXPECT_EQ(records.at({ "entries", "42" })["cents"], 100);
    EXPECT_TRUE(records.contains({ "settings", "settings" }));
    EXPECT_EQ(RecordDiff::listedCollections(document), (std::set<std::string> { "clients", "entries", "settings" }));
    EXPECT_TRUE(RecordDiff::records(Json::array()).empty());
}

TEST(RecordDiff, ChangesAgainstTheBases)
{
    const Json ada { { "id", "c1" }, { "name", "Ada" } };
    const Json bob { { "id", "c2" }, { "name", "Bob" } };
    const Json cyd { { "id", "c3" }, { "name", "Cyd" } };
    std::map<RecordKey, RecordBase> bases {
        { { "clients", "c1" }, { 1, ada, std::nullopt, {} } },
        { { "clients", "c2" }, { 2, bob, std::nullopt, {} } },
        { { "files", "f1" }, { 3, { { "id", "f1" } }, std::nullopt, {} } },
        { { "clients", "c9" }, { 4, nullptr, std::nullopt, {} } },
    };
    std::map<RecordKey, Json> local {
        { { "clients", "c1" }, ada },
        { { "clients", "c2" }, { { "id", "c2" }, { "name", "Bobby" } } },
        { { "clients", "c3" }, cyd },
    };
    // c2 edited, c3 new; c1 unchanged; f1's list isn't in the document, so it isn't a deletion; c9 was deleted already.
    auto changes = RecordDiff::localChanges(local, { "clients" }, bases);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].key.id, "c2");
    EXPECT_EQ(changes[0].body["name"], "Bobby");
    EXPECT_EQ(changes[1].key.id, "c3");

    // With the files listed and empty, f1 is gone: a deletion.
    changes = RecordDiff::localChanges(local, { "clients", "files" }, bases);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[2].key.collection, "files");
    EXPECT_TRUE(changes[2].body.is_null());
}

TEST(RecordDiff, AVersionTheDeskWasGivenIsNoEditUntilTheUserChangesIt)
{
    const Json before { { "id", "c1" }, { "name", "Ada" }, { "phone", "1" } };
    const Json given { { "id", "c1" }, { "name", "Ada Lovelace" }, { "phone", "1" } };
    std::map<RecordKey, RecordBase> bases { { { "clients", "c1" }, { 5, given, before, {} } } };

    // data.json still holds what it had: nothing to send.
    EXPECT_TRUE(RecordDiff::localChanges({ { { "clients", "c1" }, before } }, { "clients" }, bases).empty());
    // The page saved what it was given: nothing to send.
    EXPECT_TRUE(RecordDiff::localChanges({ { { "clients", "c1" }, given } }, { "clients" }, bases).empty());
    // The user changed the phone on the old version: the phone goes on top of the given name.
    const Json typed { { "id", "c1" }, { "name", "Ada" }, { "phone", "2" } };
    auto changes = RecordDiff::localChanges({ { { "clients", "c1" }, typed } }, { "clients" }, bases);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].body, (Json { { "id", "c1" }, { "name", "Ada Lovelace" }, { "phone", "2" } }));
}

TEST(SyncState, RoundTripsThroughItsFileAndRefusesADamagedOne)
{
    TemporaryFolder folder;
    SyncState state;
    state.server = { "db.example.org", 6543, "practice", "clerk" };
    state.desk = "desk-1";
    state.lastRev = 77;
    state.joining = true;
    state.bases[{ "clients", "c1" }] = { 5, { { "id", "c1" }, { "name", "Ada" } }, Json { { "id", "c1" } },
        { Json { { "id", "c1" }, { "name", "Ad" } }, Json { { "id", "c1" }, { "name", "Ada" } } } };
    state.bases[{ "settings", "settings" }] = { 6, { { "billing", 1 } }, std::nullopt, {} };
    state.bases[{ "files", "f1" }] = { 7, nullptr, std::nullopt, {} };
    const auto file = folder / "sync-state.json";
    state.write(file);
    const auto back = SyncState::read(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->server, state.server);
    EXPECT_EQ(back->toJson(), state.toJson());
    EXPECT_FALSE(SyncState::read(folder / "missing.json"));

    state.bases.clear();
    const Json good = state.toJson();
    // The good state with one member set to value, or (null) left out.
    auto with = [&](const char* member, const Json& value) {
        Json copy = good;
        if (value.is_null())
            copy.erase(member);
        else
            copy[member] = value;
        return copy.dump();
    };
    const std::string damaged[] = {
        "",
        "{\"version\": 1, \"desk\"",
        "[]",
        with("version", 2),
        with("desk", nullptr),
        with("desk", ""),
        with("lastRev", "12"),
        with("lastRev", -1),
        with("server", "localhost"),
        with("records", Json::array()),
        with("records", { { "clients", { { "c1", { { "body", nullptr } } } } } }),
        with("records", { { "clients", { { "c1", 3 } } } }),
        with("records", { { "clients", { { "c1", { { "rev", 1 }, { "body", nullptr }, { "awaiting", nullptr }, { "given", "x" } } } } } }),
    };
    for (auto& text : damaged) {
        writeText(file, text);
        EXPECT_THROW(SyncState::read(file), SyncStateDamaged) << text;
    }
}

}
