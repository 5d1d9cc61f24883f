#pragma once

#include "common/Json.h"
#include "platform/WebView.h"

#include <memory>
#include <string>
#include <string_view>

namespace quillpost {

class ByteChannel;

// A result that already is JSON text, sent to the page without being encoded again.
struct RawJSON {
    std::string text;
};

// The single answer to one page message. Copies share one answer: the first reply or fail wins
// and later calls are ignored. If every copy is dropped unanswered, the page's promise is rejected
// rather than left pending for ever.
class CommandReply {
public:
    explicit CommandReply(ScriptReplyHandler);

    void reply(const Json& value) const;
    void reply(RawJSON) const;
    void replyNull() const { reply(Json()); }
    void fail(std::string_view message) const;
    // Bytes for the page: their Base64 text, or, when the page asked for the side channel and
    // they are large, the one-time address from which it fetches them.
    void replyBytes(std::string bytes) const;
    // An object of the given members with the bytes under "bytes", as replyBytes sends them.
    void replyBytes(std::string bytes, Json members) const;
    // Set by the bridge for a message that asked for the side channel.
    void useChannel(ByteChannel& channel) { m_channel = &channel; }
    static constexpr size_t channelThreshold = 64 * 1024;

    bool answered() const;

    // The JSON text of a result: "null" for nothing; bytes that are not UTF-8 become U+FFFD.
    static std::string encode(const Json& value);

private:
    std::string bytesText(std::string&& bytes) const;

    struct State;
    std::shared_ptr<State> m_state;
    ByteChannel* m_channel { nullptr };
};

}
