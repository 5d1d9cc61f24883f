#include "bridge/DataCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "bridge/FolderChoice.h"
#include "common/Deflate.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Utf8.h"
#include "platform/Workspace.h"
#include "share/PracticeShare.h"
#include "store/Store.h"

#include <functional>

namespace quillpost::DataCommands {

void load(Bridge& bridge, const Json&, const CommandReply& reply)
{
    reply.reply(RawJSON { bridge.store().load() });
}

void loadText(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    // A page that can inflate asks for the text deflated, a small fraction of the bytes to carry;
    // the first time, it was deflated while the program started.
    const std::string& text = bridge.store().load();
    auto deflatedAhead = bridge.store().takeMadeAhead();
    if (strView(args, 0) == "deflate")
        reply.replyBytes(deflatedAhead ? std::move(*deflatedAhead) : deflated(text), Json { { "encoding", "deflate" } });
    else
        reply.replyBytes(text);
}

static void answerSave(Bridge& bridge, const CommandReply& reply, const std::function<void()>& saving)
{
    try {
        saving();
    } catch (const std::exception& error) {
        reply.fail(error.what());
        return;
    }
    reply.reply(true);
    // Other desks hear of the saved changes from the sharing worker, never from the save itself.
    if (auto* share = bridge.share())
        share->dataSaved();
}

void save(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    // The text itself, or the addresses (space-separated, in order) of the pieces of text the
    // page uploaded through the byte channel.
    const std::string_view argument = strView(args, 0);
    std::optional<std::string> uploaded;
    if (ByteChannel::isAddress(argument)) {
        uploaded.emplace();
        for (std::size_t at = 0; at <= argument.size();) {
            const std::size_t end = std::min(argument.find(' ', at), argument.size());
            auto piece = bridge.byteChannel().take(argument.substr(at, end - at));
            if (!piece) {
                reply.fail("The changes to save did not reach Quillpost. They are still here; please try again.");
                return;
            }
            *uploaded += *piece;
            at = end + 1;
        }
    }
    answerSave(bridge, reply, [&] { bridge.store().save(uploaded ? std::string_view(*uploaded) : argument); });
}

void saveEdits(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    const auto edits = textEditsFrom(args.is_array() && !args.empty() ? args[0] : Json());
    if (!edits) {
        reply.fail("The changes to save were not in a form Quillpost can save. They are still here; please try again.");
        return;
    }
    answerSave(bridge, reply, [&] { bridge.store().saveEdits(*edits); });
}

namespace {

const char* describe(Store::DataFileState state)
{
    switch (state) {
    case Store::DataFileState::Missing:
        return "missing";
    case Store::DataFileState::Whole:
        return "whole";
    case Store::DataFileState::Empty:
        return "empty";
    case Store::DataFileState::Unreadable:
        return "unreadable";
    }
    return "missing";
}

}

void info(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto& store = bridge.store();
    auto driveDetected = store.detectDrive();
    reply.reply(Json {
        { "dataFile", store.data().string() },
        { "backupFolder", store.configString("backupFolder").value_or("") },
        { "drive", store.configString("drive").value_or("") },
        { "docsRoot", store.docsRoot().string() },
        { "docsIsDrive", store.config().contains("drive") },
        { "driveDetected", driveDetected ? driveDetected->string() : "" },
        { "backupError", store.lastBackupError() },
        { "snapshots", store.snapshots().size() },
        { "platform", "linux" },
        { "native", "cpp" },
        { "version", QUILLPOST_VERSION },
    });
}

void dataStatus(Bridge& bridge, const Json&, const CommandReply& reply)
{
    // What the last load found, so that the page can tell the user before anything is saved over it:
    // the data file "whole", "missing", "empty" or "unreadable"; which file it opened, and that file's time.
    const auto& lastLoad = bridge.store().lastLoad();
    reply.reply(Json {
        { "dataFile", describe(lastLoad.dataFile) },
        { "loadedFrom", lastLoad.source },
        { "loadedAt", lastLoad.at },
    });
}

void openDataFolder(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto& store = bridge.store();
    std::error_code error;
    bridge.workspace().revealFile(std::filesystem::exists(store.data(), error) ? store.data() : store.dir());
    reply.reply(true);
}

void chooseBackupFolder(Bridge& bridge, const Json&, const CommandReply& reply)
{
    chooseFolderSetting(bridge, reply, "Choose a backup folder (e.g. inside iCloud Drive or OneDrive)", "backupFolder", [](Store& store) {
        // The new folder gets its first copy straight away rather than at the next save.
        if (auto bytes = readFile(store.data()))
            store.scheduleBackup(std::move(*bytes));
    });
}

void clearBackupFolder(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto& store = bridge.store();
    store.config().erase("backupFolder");
    store.saveConfig();
    reply.reply(true);
}

void listSnapshots(Bridge& bridge, const Json&, const CommandReply& reply)
{
    reply.reply(bridge.store().allSnapshots());
}

void recoveryCopy(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto copy = bridge.store().recoveryCopy();
    if (!copy) {
        reply.replyNull();
        return;
    }
    reply.reply(Json { { "name", copy->name }, { "at", copy->at } });
}

void restoreSnapshot(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    // The copy's name; the page's encrypted form of it, or ""; true when the user agreed to a
    // copy that isn't encrypted replacing data that is.
    const std::string sealed = str(args, 1);
    const bool plainAgreed = args.is_array() && args.size() > 2 && args[2] == true;
    try {
        bridge.store().restore(str(args, 0), sealed.empty() ? std::nullopt : std::optional<std::string_view>(sealed),
            plainAgreed ? Store::PlainOverSealed::Allow : Store::PlainOverSealed::Refuse);
    } catch (const QuillpostError& error) {
        reply.fail(error.code() == 4 ? error.what() : "Invalid snapshot");
        return;
    } catch (const std::exception&) {
        reply.fail("Invalid snapshot");
        return;
    }
    reply.reply(true);
}

void readSnapshot(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto text = bridge.store().copyText(str(args, 0));
    if (!text) {
        reply.replyNull();
        return;
    }
    reply.reply(std::move(*text));
}

void plainCopies(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto copies = Json::array();
    for (auto& copy : bridge.store().plainCopies())
        copies.push_back({ { "name", copy.name }, { "place", copy.place } });
    reply.reply(Json { { "count", copies.size() }, { "copies", copies } });
}

void removePlainCopies(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto& store = bridge.store();
    try {
        const size_t removed = store.removePlainCopies();
        reply.reply(Json { { "removed", removed }, { "left", store.plainCopies().size() } });
    } catch (const std::exception& error) {
        reply.fail(error.what());
    }
}

void backupCandidates(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto candidates = Json::array();
    for (auto& candidate : bridge.store().backupCandidates()) {
        candidates.push_back({
            { "source", candidate.source },
            { "name", candidate.name },
            { "at", candidate.at },
            { "size", candidate.size },
            { "text", candidate.text },
        });
    }
    reply.reply(candidates);
}

}
