#include "bridge/CommandReply.h"

#include "bridge/ByteChannel.h"
#include "common/Base64.h"

namespace quillpost {

struct CommandReply::State {
    ScriptReplyHandler handler;
    bool answered { false };

    void answer(std::optional<std::string> result, std::optional<std::string> errorMessage)
    {
        if (answered)
            return;
        answered = true;
        auto handlerToCall = std::move(handler);
        if (handlerToCall)
            handlerToCall(std::move(result), std::move(errorMessage));
    }

    ~State()
    {
        answer(std::nullopt, std::string("Quillpost couldn't finish this request."));
    }
};

CommandReply::CommandReply(ScriptReplyHandler handler)
    : m_state(std::make_shared<State>())
{
    m_state->handler = std::move(handler);
}

std::string CommandReply::encode(const Json& value)
{
    if (value.is_null())
        return "null";
    // Text that is not UTF-8 (a file name, say) travels with U+FFFD in place of the bad bytes,
    // so one odd name does not blank a whole list.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void CommandReply::reply(const Json& value) const
{
    m_state->answer(encode(value), std::nullopt);
}

void CommandReply::reply(RawJSON raw) const
{
    m_state->answer(std::move(raw.text), std::nullopt);
}

std::string CommandReply::bytesText(std::string&& bytes) const
{
    return m_channel && bytes.size() >= channelThreshold ? m_channel->offer(std::move(bytes)) : base64Encode(bytes);
}

void CommandReply::replyBytes(std::string bytes) const
{
    if (answered())
        return;
    const std::string text = bytesText(std::move(bytes));
    // Base64 and addresses need no escapes: their JSON text is the text in quotes.
    std::string json;
    json.reserve(text.size() + 2);
    json.push_back('"');
    json.append(text);
    json.push_back('"');
    m_state->answer(std::move(json), std::nullopt);
}

void CommandReply::replyBytes(std::string bytes, Json members) const
{
    if (answered())
        return;
    members["bytes"] = bytesText(std::move(bytes));
    reply(members);
}

void CommandReply::fail(std::string_view message) const
{
    m_state->answer(std::nullopt, std::string(message));
}

bool CommandReply::answered() const
{
    return m_state->answered;
}

}
