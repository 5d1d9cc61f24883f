#include "secrets/SecretClipboard.h"

#include "platform/Clipboard.h"
#include "platform/MainQueue.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quillpost {

SecretClipboard::SecretClipboard(Clipboard& clipboard, MainQueue& mainQueue)
    : m_clipboard(clipboard)
    , m_mainQueue(mainQueue)
{
}

bool SecretClipboard::copySecret(const std::string& text, double seconds)
{
    m_clipboard.writeText(text, { { passwordManagerHint, "secret" }, { concealedType, "" } });
    const auto count = m_clipboard.changeCount();

    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    seconds = std::min(seconds, longestSeconds);
    const auto delay = std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000)));
    m_mainQueue.after(delay, [this, count] {
        // Anything copied since, by the user or another program, is theirs: it stays.
        if (m_clipboard.changeCount() == count)
            m_clipboard.clear();
    });
    return true;
}

}
