#include "bridge/DocumentCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "platform/Workspace.h"
#include "store/Containment.h"
#include "store/Store.h"

#include <regex>
#include <sys/stat.h>

namespace quillpost::DocumentCommands {

namespace fs = std::filesystem;

namespace {

constexpr const char* notAllowed = "Not allowed";

bool isRegularFile(const fs::path& path)
{
    struct stat information {};
    return ::stat(path.c_str(), &information) == 0 && S_ISREG(information.st_mode);
}

// Only documents of these kinds are opened from the page; anything that could run stays shut.
bool hasOpenableExtension(const std::string& path)
{
    static const std::regex pattern(R"(\.(pdf|jpe?g|png|gif|webp|heic|tiff?|docx?|xlsx?|csv|txt|rtf|odt|pages|numbers)$)", std::regex::icase);
    return std::regex_search(path, pattern);
}

std::optional<std::string> optionalStringField(const Json& dictionary, const char* key)
{
    auto entry = dictionary.find(key);
    if (entry == dictionary.end() || !entry->is_string())
        return std::nullopt;
    return entry->get<std::string>();
}

}

void clientFolder(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto& store = bridge.store();
    const std::string client = str(args, 0);
    const std::string sub = str(args, 1);
    const fs::path folder = store.folder(client, sub);

    // A documents root on a drive that is gone is said so.
    if (const auto problem = store.makeDocsRoot(); problem && problem->kind == Store::DocsRootProblem::Kind::Unavailable) {
        reply.fail(problem->message);
        return;
    }
    // A folder that can't be made is no reason not to answer.
    const bool made = store.makeClientFolder(client, sub);
    if (made && booleanArgument(args, 2, false))
        bridge.workspace().openFile(folder);
    reply.reply(folder.string());
}

void openFolder(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    const std::string path = str(args, 0);
    std::error_code error;
    if (path.empty() || path.find('\0') != std::string::npos || !fs::is_directory(path, error)) {
        reply.reply(false);
        return;
    }
    bridge.workspace().openFile(path);
    reply.reply(true);
}

void saveDocument(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    if (!args.is_array() || args.empty() || !args[0].is_object()) {
        reply.fail("bad document");
        return;
    }
    const Json& document = args[0];
    const auto bytes = bridge.bytesArgument(stringField(document, "bytes"));
    if (!bytes) {
        reply.fail("bad document");
        return;
    }

    auto& store = bridge.store();
    if (const auto problem = store.makeDocsRoot()) {
        reply.fail(problem->message);
        return;
    }
    const auto sub = optionalStringField(document, "sub");
    const fs::path target = store.fileDocument(stringField(document, "client"), sub, stringField(document, "fileName", "document.pdf"), *bytes);
    reply.reply(Json { { "path", target.string() }, { "name", target.filename().string() }, { "size", bytes->size() } });
}

void listDocuments(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto& store = bridge.store();
    const fs::path base = store.docsRoot() / Store::safeName(str(args, 0));
    std::error_code error;
    const bool exists = fs::exists(fs::symlink_status(base, error));

    auto files = Json::array();
    // A client folder that is a link out of the documents root is not listed.
    if (exists && store.inside(base.string())) {
        for (auto& entry : store.documents(base)) {
            files.push_back({
                { "name", entry.name },
                { "path", entry.path },
                { "folder", entry.folder },
                { "size", entry.size },
                { "modified", entry.modified },
            });
        }
    }
    reply.reply(Json { { "base", base.string() }, { "exists", exists }, { "files", files } });
}

void openDocument(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    const std::string path = str(args, 0);
    const auto real = bridge.store().resolveDocument(path);
    // Both names must be of an openable kind: a "letter.pdf" that links to a program is not opened.
    if (!real || !isRegularFile(*real) || !hasOpenableExtension(path) || !hasOpenableExtension(real->string())) {
        reply.reply(false);
        return;
    }
    reply.reply(bridge.workspace().openFile(*real));
}

void revealDocument(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    const auto real = bridge.store().resolveDocument(str(args, 0));
    std::error_code error;
    if (!real || !fs::exists(*real, error)) {
        reply.reply(false);
        return;
    }
    bridge.workspace().revealFile(*real);
    reply.reply(true);
}

void readDocument(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto& store = bridge.store();
    const auto real = store.resolveDocument(str(args, 0));
    if (!real) {
        reply.fail(notAllowed);
        return;
    }
    store.readBelow(store.docsRoot(), *real, [reply](Store::PageRead read) { replyWithRead(reply, std::move(read)); });
}

void replyWithRead(const CommandReply& reply, Store::PageRead read)
{
    switch (read.outcome) {
    case Store::PageRead::Outcome::Read:
        reply.replyBytes(std::move(read.bytes));
        return;
    case Store::PageRead::Outcome::TooLarge:
        reply.fail(Store::pageReadLimitMessage());
        return;
    case Store::PageRead::Outcome::Refused:
        reply.fail(notAllowed);
        return;
    }
}

void deleteDocument(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    // The Trash gets the item the page listed: a link goes as the link, never what it points at,
    // which may be another client's document. Located just before the move.
    const auto item = locateItemInside(bridge.store().docsRoot(), fs::path(str(args, 0)));
    if (!item) {
        reply.reply(false);
        return;
    }
    reply.reply(bridge.workspace().moveToTrash(*item));
}

}
