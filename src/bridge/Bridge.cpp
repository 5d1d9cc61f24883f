#include "bridge/Bridge.h"

#include "common/Base64.h"
#include "common/JsonText.h"
#include "platform/Panels.h"

namespace quillpost {

Bridge::Bridge(Services services)
    : m_store(services.store)
    , m_panels(services.panels)
    , m_workspace(services.workspace)
    , m_processes(services.processes)
    , m_mainQueue(services.mainQueue)
    , m_selfTest(services.selfTest)
    , m_http(services.http)
    , m_secrets(services.secrets)
    , m_printInbox(services.printInbox)
    , m_badge(services.badge)
    , m_updater(services.updater)
    , m_pdfcraft(services.pdfcraft)
    , m_notifier(services.notifier)
    , m_shell(services.shell)
    , m_share(services.share)
    , m_byteChannel(services.clock ? *services.clock : Clock::system())
{
}

std::optional<Bridge::Message> Bridge::decode(const Json& body)
{
    if (!body.is_object())
        return std::nullopt;
    auto cmd = body.find("cmd");
    if (cmd == body.end() || !cmd->is_string())
        return std::nullopt;

    Message message { cmd->get<std::string>(), Json::array() };
    const auto via = body.find("via");
    message.viaChannel = via != body.end() && via->is_string() && via->get_ref<const std::string&>() == ByteChannel::scheme;
    auto args = body.find("args");
    if (args == body.end() || !args->is_string())
        return message;

    // A malformed argument list never fails the message: the command runs without arguments.
    // A lone surrogate (a cut emoji) reads as U+FFFD, as the page's own JSON.parse would read it.
    auto parsed = parseJsonText(args->get_ref<const std::string&>());
    if (parsed.is_array())
        message.args = std::move(parsed);
    return message;
}

void Bridge::receive(const Json& body, ScriptReplyHandler replyHandler)
{
    CommandReply reply(std::move(replyHandler));
    auto message = decode(body);
    if (!message) {
        reply.fail("bad message");
        return;
    }
    if (message->viaChannel)
        reply.useChannel(m_byteChannel);
    handle(message->cmd, message->args, std::move(reply));
}

std::optional<std::string> Bridge::bytesArgument(std::string_view text)
{
    // Base64 never holds a colon, so an address cannot be mistaken for bytes.
    if (ByteChannel::isAddress(text))
        return m_byteChannel.take(text);
    return base64Decode(text);
}

void Bridge::chooseFolder(const std::string& title, std::function<void(std::optional<std::string>)> completion)
{
    auto window = m_window.lock();
    m_panels.chooseFolder(window.get(), title, std::move(completion));
}

}
