#include "bridge/DocumentCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "platform/MainQueue.h"
#include "platform/ProcessRunner.h"
#include "platform/Workspace.h"
#include "store/Store.h"

#include <array>

namespace quillpost::DocumentCommands {

namespace fs = std::filesystem;

namespace {

// How long the mail helper gets to say it failed; a mail client started by it may keep it
// running for as long as the client is open, which is no reason to keep the page waiting.
constexpr auto mailHelperGrace = std::chrono::seconds(3);

std::string percentEncoded(std::string_view text, std::string_view alsoKept = "")
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char character : text) {
        if (std::isalnum(character) && character < 0x80)
            encoded += static_cast<char>(character);
        else if (character == '-' || character == '.' || character == '_' || character == '~' || alsoKept.find(static_cast<char>(character)) != std::string_view::npos)
            encoded += static_cast<char>(character);
        else {
            encoded += '%';
            encoded += digits[character >> 4];
            encoded += digits[character & 15];
        }
    }
    return encoded;
}

// The mail helper hands the attachment to some mail clients inside a quoted, comma-separated
// list, after turning backslash escapes into characters; a path holding any of these could
// change what is attached, so such a file is attached by hand instead.
bool safeForMailHelper(const std::string& path)
{
    return path.find_first_of("',\\\"") == std::string::npos;
}

}

bool isEmailAddress(std::string_view address)
{
    static constexpr std::array unicodeSpaces { "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80" };
    const size_t at = address.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == address.size() || address.find('@', at + 1) != std::string_view::npos)
        return false;
    // Beyond the pattern of one address: quotes and backslashes, which the mail helper would
    // read as escapes, and controls, which no address holds.
    for (unsigned char character : address) {
        if (character <= ' ' || character == 0x7F || character == ',' || character == ';' || character == '<' || character == '>' || character == '\'' || character == '"' || character == '\\')
            return false;
    }
    for (const char* space : unicodeSpaces) {
        if (address.find(space) != std::string_view::npos)
            return false;
    }
    for (unsigned third = 0x80; third <= 0x8A; ++third) { // U+2000 to U+200A
        const char space[] = { '\xE2', '\x80', static_cast<char>(third), 0 };
        if (address.find(space) != std::string_view::npos)
            return false;
    }
    return true;
}

void composeEmail(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    const Json message = dictionaryArgument(args);
    const std::string to = stringField(message, "to");
    const std::string subject = stringField(message, "subject");
    const std::string body = stringField(message, "body");
    const std::string path = stringField(message, "path");

    if (!to.empty() && !isEmailAddress(to)) {
        reply.fail("That isn't an email address.");
        return;
    }
    std::optional<fs::path> attachment;
    if (!path.empty()) {
        std::error_code error;
        attachment = bridge.store().resolveDocument(path);
        if (!attachment || !fs::exists(*attachment, error)) {
            reply.fail("Not allowed");
            return;
        }
    }

    // Without the helper, a mail link opens a message and the file is shown, to be attached by hand.
    const std::string mailLink = "mailto:" + percentEncoded(to, "@") + "?subject=" + percentEncoded(subject) + "&body=" + percentEncoded(body);
    auto fallBack = [&bridge, reply, mailLink, attachment] {
        bridge.workspace().openUri(mailLink);
        if (attachment)
            bridge.workspace().revealFile(*attachment);
        reply.reply(Json { { "attached", false } });
    };
    if (attachment && !safeForMailHelper(attachment->string())) {
        fallBack();
        return;
    }

    std::vector<std::string> command { "xdg-email", "--utf8" };
    // The helper refuses an option with an empty value.
    if (!subject.empty())
        command.insert(command.end(), { "--subject", subject });
    if (!body.empty())
        command.insert(command.end(), { "--body", body });
    if (attachment)
        command.insert(command.end(), { "--attach", attachment->string() });
    if (!to.empty())
        command.insert(command.end(), { "--to", to });

    struct Pending {
        bool answered { false };
        std::optional<TimerId> timer;
    };
    auto pending = std::make_shared<Pending>();
    const bool attached = attachment.has_value();
    bridge.processes().run(command, [&bridge, pending, reply, attached, fallBack](ProcessRunner::Result result) {
        if (pending->answered)
            return;
        pending->answered = true;
        if (pending->timer)
            bridge.mainQueue().cancel(*pending->timer);
        if (result.started && result.exitStatus == 0)
            reply.reply(Json { { "attached", attached } });
        else
            fallBack();
    });
    if (pending->answered)
        return;
    pending->timer = bridge.mainQueue().after(mailHelperGrace, [pending, reply, attached] {
        if (pending->answered)
            return;
        pending->answered = true;
        reply.reply(Json { { "attached", attached } });
    });
}

}
