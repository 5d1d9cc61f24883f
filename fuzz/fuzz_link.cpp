// Links the desktop hands over (a second launch, `gio open`, simulateOpenURL): which are
// quillpost: links, and the script that carries each to the page.
#include "FuzzCheck.h"

#include "app/LinkRouter.h"
#include "app/PageHooks.h"
#include "common/Utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace quillpost;

namespace {

bool sameLetters(std::string_view scheme, std::string_view lowerCase)
{
    if (scheme.size() != lowerCase.size())
        return false;
    for (std::size_t index = 0; index < scheme.size(); ++index) {
        char c = scheme[index];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerCase[index])
            return false;
    }
    return true;
}

// The argument of the one hook call in a delivery script, read back as the page's JSON reader would.
std::string deliveredText(const std::string& script)
{
    const auto wrapper = PageHooks::afterPageLoad("\x01");
    const auto mark = wrapper.find('\x01');
    const auto prefix = wrapper.substr(0, mark) + "window.__qpLink && window.__qpLink(";
    const auto suffix = ")" + wrapper.substr(mark + 1);
    FUZZ_CHECK(script.size() > prefix.size() + suffix.size());
    FUZZ_CHECK(script.starts_with(prefix) && script.ends_with(suffix));
    auto literal = script.substr(prefix.size(), script.size() - prefix.size() - suffix.size());
    // One JSON string literal and nothing else: no way out of the call for text from outside.
    auto parsed = Json::parse(literal);
    FUZZ_CHECK(parsed.is_string());
    FUZZ_CHECK(parsed.dump() == literal);
    return parsed.get<std::string>();
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Several URLs, one per line; the first byte says after how many of them the page loads.
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t loadAfter = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % 8;
    std::vector<std::string> urls;
    std::size_t start = input.empty() ? 0 : 1;
    while (start <= input.size()) {
        auto end = input.find('\n', start);
        if (end == std::string::npos)
            end = input.size();
        urls.push_back(input.substr(start, end - start));
        start = end + 1;
    }

    std::vector<std::string> scripts;
    LinkRouter router([&](const std::string& script) { scripts.push_back(script); });
    std::vector<std::string> accepted;
    for (std::size_t index = 0; index < urls.size(); ++index) {
        if (index == loadAfter)
            router.pageLoaded();
        auto& url = urls[index];
        bool isLink = LinkRouter::isQuillpostLink(url);
        if (isLink) {
            auto scheme = LinkRouter::scheme(url);
            FUZZ_CHECK(scheme && sameLetters(*scheme, "quillpost"));
            FUZZ_CHECK(url.size() <= LinkRouter::maximumLength);
            for (unsigned char c : url)
                FUZZ_CHECK(c > 0x20 && c != 0x7f);
            accepted.push_back(url);
        }
        router.open({ url });
    }
    router.pageLoaded();

    // Every link once, in the order it came, as the text it was (made valid UTF-8).
    FUZZ_CHECK(router.pending().empty());
    FUZZ_CHECK(scripts.size() == accepted.size());
    for (std::size_t index = 0; index < scripts.size(); ++index)
        FUZZ_CHECK(deliveredText(scripts[index]) == validUtf8(accepted[index]));
    return 0;
}
