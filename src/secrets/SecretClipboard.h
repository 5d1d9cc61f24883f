#pragma once

#include <string>

namespace quillpost {

class Clipboard;
class MainQueue;

// Copies a vault secret for a while: marked so that clipboard managers leave it out of their
// history, and wiped after its time unless something else has been copied meanwhile.
class SecretClipboard {
public:
    static constexpr const char* concealedType = "org.nspasteboard.ConcealedType";
    static constexpr const char* passwordManagerHint = "x-kde-passwordManagerHint";
    // Longer would hardly be "for a while", and keeps the timer's arithmetic far from overflowing.
    static constexpr double longestSeconds = 24 * 60 * 60;

    SecretClipboard(Clipboard&, MainQueue&);

    bool copySecret(const std::string& text, double seconds);

private:
    Clipboard& m_clipboard;
    MainQueue& m_mainQueue;
};

}
