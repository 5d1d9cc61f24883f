#include "bridge/PdfCraftCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "common/Error.h"
#include "pdfcraft/PdfCraft.h"
#include "store/Store.h"

namespace quillpost::PdfCraftCommands {

namespace {

PdfCraft* editorOrFail(Bridge& bridge, const CommandReply& reply)
{
    auto* editor = bridge.pdfcraft();
    if (!editor)
        reply.fail("The PDF editor isn't part of this window.");
    return editor;
}

}

void openPdfCraft(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto* editor = editorOrFail(bridge, reply);
    if (!editor)
        return;
    const std::string text = str(args, 0);
    // Empty or unreadable bytes open the editor without a document.
    std::optional<std::string> bytes = text.empty() ? std::nullopt : bridge.bytesArgument(text);
    reply.reply(editor->open(std::move(bytes), str(args, 1)));
}

void hasPdfCraft(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (auto* editor = editorOrFail(bridge, reply))
        reply.reply(PdfCraft::has(editor->current()));
}

void pdfcraftInfo(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (auto* editor = editorOrFail(bridge, reply))
        reply.reply(editor->info());
}

void pdfcraftCheck(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (auto* editor = editorOrFail(bridge, reply))
        editor->check([reply](Json result) { reply.reply(result); });
}

void pdfcraftUpdate(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (auto* editor = editorOrFail(bridge, reply))
        editor->update([reply](Json result) { reply.reply(result); });
}

void pdfcraftRollback(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (auto* editor = editorOrFail(bridge, reply))
        reply.reply(editor->rollback());
}

void pdfcraftCloseAll(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (auto* editor = editorOrFail(bridge, reply))
        editor->closeAll([reply](int stillOpen) { reply.reply(stillOpen); });
}

namespace {

WebView* newestEditorPage(Bridge& bridge, const CommandReply& reply)
{
    auto* editor = editorOrFail(bridge, reply);
    if (!editor)
        return nullptr;
    if (editor->windows().empty()) {
        reply.fail("No editor window is open.");
        return nullptr;
    }
    return &editor->windows().back()->webView();
}

}

void pdfcraftSnapshot(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto* page = newestEditorPage(bridge, reply);
    if (!page)
        return;
    page->snapshot([reply, path = str(args, 0)](std::optional<std::string> png, std::string error) {
        if (!png) {
            reply.fail(error);
            return;
        }
        try {
            Store::atomicWrite(path, *png);
            reply.reply(true);
        } catch (const FileError& failure) {
            reply.fail(failure.what());
        }
    });
}

void pdfcraftProbe(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto* page = newestEditorPage(bridge, reply);
    if (!page)
        return;
    page->callAsyncFunction(str(args, 0), Json::object(), [reply](std::optional<Json> value, std::string error) {
        if (value)
            reply.reply(*value);
        else
            reply.fail(error.empty() ? "The editor's page didn't answer." : error);
    });
}

}
