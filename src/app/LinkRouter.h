#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

// quillpost: links opened by the desktop, handed to the page's window.__qpLink in the order they
// arrived. Links that come before the page has loaded wait for it; none is lost or repeated.
class LinkRouter {
public:
    explicit LinkRouter(std::function<void(const std::string& script)> evaluate);

    // Longer texts are not links anyone clicked; they are dropped.
    static constexpr std::size_t maximumLength = 64 * 1024;

    // The scheme of a text that forms a URL (a letter, then letters, digits, "+", "-" or ".", then
    // ":", and no spaces or control characters anywhere), as written; nothing otherwise.
    static std::optional<std::string_view> scheme(std::string_view text);
    // A URL whose scheme is "quillpost" in any letter case.
    static bool isQuillpostLink(std::string_view text);

    // Passes on the quillpost: links among the URLs, unchanged; anything else is ignored.
    void open(const std::vector<std::string>& urls);
    // The page has loaded: the waiting links go to it, in order; later ones go straight to it.
    void pageLoaded();

    const std::vector<std::string>& pending() const { return m_pending; }

private:
    void deliver(const std::string& link);

    std::function<void(const std::string&)> m_evaluate;
    std::vector<std::string> m_pending;
    bool m_pageLoaded { false };
};

}
