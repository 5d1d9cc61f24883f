#include "bridge/PrintCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "bridge/PdfFormCopy.h"
#include "bridge/PdfLock.h"
#include "common/Files.h"
#include "common/Uuid.h"
#include "platform/LauncherBadge.h"

namespace quillpost::PrintCommands {

void printPdf(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (!bridge.webView() || !bridge.window()) {
        reply.fail("No window");
        return;
    }
    // A page that keeps asking gets a clear answer rather than an ever longer wait.
    if (bridge.prints().waiting() >= maximumWaitingPrints) {
        reply.fail("Quillpost is still making the PDFs asked for before. Try again in a moment.");
        return;
    }
    std::error_code error;
    auto folder = std::filesystem::temp_directory_path(error);
    if (error)
        folder = "/tmp";
    auto file = folder / ("quillpost-print-" + randomUuid() + ".pdf");
    // Each request keeps its own file and its own answer; the queue runs them one after the other.
    bridge.prints().print(WebView::PrintDestination::PdfFile, file, [reply, file](bool ok, const std::string&) {
        auto bytes = ok ? readFile(file) : std::nullopt;
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
        if (!bytes || !bytes->starts_with("%PDF-")) {
            reply.fail("Printing to PDF failed");
            return;
        }
        reply.replyBytes(std::move(*bytes));
    });
}

void printPage(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (!bridge.webView() || !bridge.window()) {
        reply.fail("No window to print");
        return;
    }
    // One print dialog at a time; a paper print asked for while a PDF is made waits for it.
    if (bridge.prints().has(WebView::PrintDestination::PrintDialog)) {
        reply.reply(Json { { "busy", true } });
        return;
    }
    bridge.prints().print(WebView::PrintDestination::PrintDialog, {}, [reply](bool ok, const std::string&) {
        reply.reply(Json { { "ok", ok } });
    });
}

void protectPdf(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    constexpr const char* unusable = "The handover PDF couldn't be prepared";
    if (!args.is_array() || args.empty() || !args[0].is_object()) {
        reply.fail(unusable);
        return;
    }
    const Json& request = args[0];
    auto bytesField = request.find("bytes");
    std::string encoded = bytesField != request.end() && bytesField->is_string() ? bytesField->get<std::string>() : std::string();
    auto bytes = bridge.bytesArgument(encoded);
    auto password = request.find("password");
    if (!bytes || password == request.end() || !password->is_string()) {
        reply.fail(unusable);
        return;
    }
    auto locked = PdfLock::protect(*bytes, password->get<std::string>());
    if (auto* refusal = std::get_if<PdfLock::Refusal>(&locked)) {
        reply.fail(*refusal == PdfLock::Refusal::Unusable ? unusable : "The handover PDF couldn't be locked, so it wasn't saved");
        return;
    }
    reply.replyBytes(std::move(std::get<std::string>(locked)));
}

namespace {

std::string_view refusalMessage(PdfFormCopy::Refusal refusal)
{
    using enum PdfFormCopy::Refusal;
    switch (refusal) {
    case TooLarge:
        return "This PDF is larger than 256 MB, too large to make a shareable copy of.";
    case NotPdf:
        return "This file isn't a PDF.";
    case Damaged:
        return "This PDF is damaged, so no shareable copy was made.";
    case PasswordProtected:
        return "This PDF is password-protected. Open it in the PDF editor and save an unlocked copy first.";
    case NoFields:
        return "This PDF has no form fields to fill in, so it is already a shareable copy.";
    case NotFlattened:
        break;
    }
    return "The filled form couldn't be baked into a copy, so none was made.";
}

}

void flattenPdf(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    constexpr const char* missing = "The PDF for the shareable copy didn't reach Quillpost.";
    if (!args.is_array() || args.empty() || !args[0].is_object()) {
        reply.fail(missing);
        return;
    }
    const Json& request = args[0];
    auto bytesField = request.find("bytes");
    if (bytesField == request.end() || !bytesField->is_string()) {
        reply.fail(missing);
        return;
    }
    // Base64 of too many bytes is refused before it is decoded.
    const auto& encoded = bytesField->get_ref<const std::string&>();
    if (encoded.size() / 4 * 3 > PdfFormCopy::maximumInputBytes + 2) {
        reply.fail(refusalMessage(PdfFormCopy::Refusal::TooLarge));
        return;
    }
    auto bytes = bridge.bytesArgument(encoded);
    if (!bytes) {
        reply.fail(missing);
        return;
    }
    auto flattened = PdfFormCopy::flatten(*bytes);
    if (auto* refusal = std::get_if<PdfFormCopy::Refusal>(&flattened)) {
        reply.fail(refusalMessage(*refusal));
        return;
    }
    auto& copy = std::get<PdfFormCopy::Copy>(flattened);
    reply.replyBytes(std::move(copy.bytes), Json { { "pages", copy.pages }, { "fields", copy.fields }, { "text", std::move(copy.text) } });
}

void setBadge(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    if (auto* badge = bridge.badge())
        badge->setCount(integerArgument(args, 0, 0));
    reply.reply(true);
}

}
