#pragma once

#include "common/Json.h"
#include "platform/WebView.h"

#include <memory>
#include <string>
#include <string_view>

namespace quillpost {

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

    bool answered() const;

    // The JSON text of a result: "null" for nothing; bytes that are not UTF-8 become U+FFFD.
    static std::string encode(const Json& value);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

}
