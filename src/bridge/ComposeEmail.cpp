#include "bridge/DocumentCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "common/FileDescriptor.h"
#include "common/Files.h"
#include "common/Utf8.h"
#include "platform/MainQueue.h"
#include "platform/ProcessRunner.h"
#include "platform/Workspace.h"
#include "store/Containment.h"
#include "store/Store.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillpost::DocumentCommands {

namespace fs = std::filesystem;

namespace {

// How long a copy made for the mail client stays: long enough for it to take the file into the
// message, which most do when the message opens and some only when it is sent.
constexpr auto attachmentCopyLifetime = std::chrono::hours(2);
constexpr std::string_view attachmentFolderPrefix = "quillpost-mail-";
constexpr const char* attachmentFolderPattern = "quillpost-mail-XXXXXX";

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

// The mail helper's shell reads backslashes in the subject and body as escapes (a body could add
// recipients or attachments for some mail clients), so these are refused rather than passed on.
// It encodes newlines and tabs itself, which the body may hold; the subject holds neither.
std::optional<std::string> refusedText(std::string_view field, const std::string& text, bool isBody)
{
    const std::string checked = validUtf8(text);
    for (size_t at = 0; at < checked.size(); ++at) {
        const auto character = static_cast<unsigned char>(checked[at]);
        const bool c1Control = character == 0xC2 && at + 1 < checked.size() && static_cast<unsigned char>(checked[at + 1]) <= 0x9F;
        if (isBody && (character == '\n' || character == '\t'))
            continue;
        if (character == '\\' || character < 0x20 || character == 0x7F || c1Control)
            return "The e-mail wasn't opened, because its " + std::string(field) + " holds a backslash or a control character. Nothing was sent.";
    }
    return std::nullopt;
}

// What the mail helper passes on unchanged to every mail client: in some it goes into a quoted,
// comma-separated list after word splitting and backslash escapes, so only letters, digits,
// "._+-/", text beyond ASCII and single spaces are taken.
bool safeForMailHelper(const std::string& path)
{
    const std::string checked = validUtf8(path);
    if (checked != path || path.find("  ") != std::string::npos)
        return false;
    for (size_t at = 0; at < path.size(); ++at) {
        const auto character = static_cast<unsigned char>(path[at]);
        if (character >= 0x80) {
            // No C1 controls (U+0080 to U+009F).
            if (character == 0xC2 && static_cast<unsigned char>(path[at + 1]) <= 0x9F)
                return false;
            continue;
        }
        if (!std::isalnum(character) && std::string_view("._+-/ ").find(static_cast<char>(character)) == std::string_view::npos)
            return false;
    }
    return true;
}

// The attachment's name as the copy carries it: quotes, commas and the like dropped, white space
// made single spaces; "O'Brien, S letter.pdf" becomes "OBrien S letter.pdf".
std::string attachmentName(const std::string& name)
{
    std::string safe;
    for (char character : validUtf8(name)) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte >= 0x80 || std::isalnum(byte) || character == '.' || character == '_' || character == '+' || character == '-')
            safe += character;
        else if ((character == ' ' || character == '\t') && !safe.empty() && safe.back() != ' ')
            safe += ' ';
    }
    while (!safe.empty() && (safe.back() == ' ' || safe.back() == '.'))
        safe.pop_back();
    const size_t visible = safe.find_first_not_of(".-");
    safe.erase(0, visible == std::string::npos ? safe.size() : visible);
    if (!safeForMailHelper(safe) || safe.empty())
        return "attachment";
    return safe;
}

bool copyAll(int from, int to)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t count = ::read(from, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return count == 0;
        for (ssize_t written = 0; written < count;) {
            const ssize_t step = ::write(to, buffer + written, static_cast<size_t>(count - written));
            if (step < 0 && errno == EINTR)
                continue;
            if (step < 0)
                return false;
            written += step;
        }
    }
}

// Copies left from an earlier run (one that quit before their time was up) are removed with the next mail.
void removeOldCopies(const fs::path& temporary)
{
    std::error_code error;
    const auto oldest = fs::file_time_type::clock::now() - attachmentCopyLifetime;
    for (const std::string& name : namesInFolder(temporary)) {
        if (!name.starts_with(attachmentFolderPrefix))
            continue;
        const fs::path folder = temporary / name;
        struct stat information {};
        if (::lstat(folder.c_str(), &information) != 0 || !S_ISDIR(information.st_mode) || information.st_uid != ::geteuid())
            continue;
        const auto modified = fs::last_write_time(folder, error);
        if (!error && modified < oldest)
            fs::remove_all(folder, error);
    }
}

// A copy of the document under a name the mail helper passes on safely, in a folder only we can
// read; its folder, to remove once the mail client has had time to take it, and the copy.
std::optional<std::pair<fs::path, fs::path>> attachableCopy(const fs::path& root, const fs::path& document)
{
    std::error_code error;
    const fs::path temporary = fs::canonical(fs::temp_directory_path(error), error);
    if (error)
        return std::nullopt;
    removeOldCopies(temporary);
    std::string pattern = (temporary / attachmentFolderPattern).string();
    if (!::mkdtemp(pattern.data()))
        return std::nullopt;
    const fs::path folder = pattern;
    const fs::path copy = folder / attachmentName(document.filename().string());
    const FileDescriptor source = openBelow(root, document, O_RDONLY | O_NONBLOCK);
    struct stat information {};
    const FileDescriptor target(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!safeForMailHelper(copy.string()) || !source || ::fstat(source.get(), &information) || !S_ISREG(information.st_mode) || !target
        || !copyAll(source.get(), target.get())) {
        fs::remove_all(folder, error);
        return std::nullopt;
    }
    return std::pair { folder, copy };
}

}

bool isEmailAddress(std::string_view address)
{
    // One address of plain parts: the local part of letters, digits and ".'_+-" (an apostrophe
    // for O'Brien), the domain of letters, digits and hyphens in dotted labels; text beyond ASCII
    // in either, but no white space, controls, quotes, commas, percent signs, equals signs or
    // backslashes, which the mail helper or a mail client would read as more than an address.
    const size_t at = address.find('@');
    if (at == std::string_view::npos || address.find('@', at + 1) != std::string_view::npos || validUtf8(address) != address)
        return false;
    const std::string_view local = address.substr(0, at);
    const std::string_view domain = address.substr(at + 1);
    if (local.empty() || local.size() > 64 || domain.empty() || domain.size() > 253)
        return false;

    static constexpr std::array unicodeSpaces { "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80" };
    for (const char* space : unicodeSpaces) {
        if (address.find(space) != std::string_view::npos)
            return false;
    }
    for (size_t index = 0; index < address.size(); ++index) {
        const auto byte = static_cast<unsigned char>(address[index]);
        const auto next = index + 1 < address.size() ? static_cast<unsigned char>(address[index + 1]) : 0;
        const auto third = index + 2 < address.size() ? static_cast<unsigned char>(address[index + 2]) : 0;
        // C1 controls, U+0080 to U+009F, and the spaces U+2000 to U+200B.
        if ((byte == 0xC2 && next <= 0x9F) || (byte == 0xE2 && next == 0x80 && third <= 0x8B))
            return false;
    }

    auto plain = [](std::string_view part, std::string_view punctuation) {
        if (part.front() == '.' || part.back() == '.' || part.find("..") != std::string_view::npos)
            return false;
        for (char character : part) {
            const auto byte = static_cast<unsigned char>(character);
            if (byte < 0x80 && !std::isalnum(byte) && punctuation.find(character) == std::string_view::npos)
                return false;
        }
        return true;
    };
    if (!plain(local, ".'_+-") || !plain(domain, ".-"))
        return false;
    for (size_t start = 0; start <= domain.size();) {
        size_t end = domain.find('.', start);
        if (end == std::string_view::npos)
            end = domain.size();
        const std::string_view label = domain.substr(start, end - start);
        if (label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        start = end + 1;
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
    for (const auto& refusal : { refusedText("subject", subject, false), refusedText("message text", body, true) }) {
        if (refusal) {
            reply.fail(*refusal);
            return;
        }
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
    // A document whose path the helper would not pass on intact goes as a copy under a safe name.
    std::optional<fs::path> handedOver = attachment;
    std::optional<fs::path> copyFolder;
    if (attachment && !safeForMailHelper(attachment->string())) {
        auto copy = attachableCopy(bridge.store().docsRoot(), *attachment);
        if (!copy) {
            fallBack();
            return;
        }
        copyFolder = copy->first;
        handedOver = copy->second;
        bridge.mainQueue().after(attachmentCopyLifetime, [folder = copy->first] {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        });
    }

    std::vector<std::string> command { "xdg-email", "--utf8" };
    // The helper refuses an option with an empty value.
    if (!subject.empty())
        command.insert(command.end(), { "--subject", subject });
    if (!body.empty())
        command.insert(command.end(), { "--body", body });
    if (handedOver)
        command.insert(command.end(), { "--attach", handedOver->string() });
    if (!to.empty())
        command.insert(command.end(), { "--to", to });

    // The page hears what the helper did, however long it takes: xdg-email may run until the
    // mail client it started has taken the message, and fails only once it has tried every client.
    const bool attached = attachment.has_value();
    bridge.processes().run(command, [reply, attached, fallBack, copyFolder](ProcessRunner::Result result) {
        if (result.started && result.exitStatus == 0) {
            reply.reply(Json { { "attached", attached } });
            return;
        }
        // The file is attached by hand from where it lies; the copy is of no more use.
        if (copyFolder) {
            std::error_code ignored;
            fs::remove_all(*copyFolder, ignored);
        }
        fallBack();
    });
}

}
