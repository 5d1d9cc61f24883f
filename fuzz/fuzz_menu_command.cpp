// Words and identifiers that come back from outside and go into the page as script: menu and
// quicklist commands (any text a second launch passes with --menu-command), notification
// identifiers clicked over D-Bus, printed-file records.
#include "FuzzCheck.h"

#include "app/PageHooks.h"
#include "common/JsonText.h"
#include "common/Utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace quillpost;

namespace {

// The text a hook call passes, read back as the page's JSON reader would; the call is the whole script.
std::string passedText(const std::string& script, const std::string& hook)
{
    const std::string start = "window." + hook + " && window." + hook + "(";
    FUZZ_CHECK(script.starts_with(start));
    FUZZ_CHECK(script.ends_with(")"));
    auto literal = script.substr(start.size(), script.size() - start.size() - 1);
    auto parsed = Json::parse(literal);
    FUZZ_CHECK(parsed.is_string());
    FUZZ_CHECK(parsed.dump() == literal);
    return parsed.get<std::string>();
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto repaired = validUtf8(text);

    FUZZ_CHECK(passedText(PageHooks::menuCommand(text), "__qpMenu") == repaired);

    auto click = PageHooks::notificationClick(text);
    if (text.starts_with("printed:"))
        FUZZ_CHECK(click == "location.hash = '#/pdf/formcopy'");
    else
        FUZZ_CHECK(passedText(click, "__qpNotifyClick") == repaired);

    // A printed-file record is whatever the print inbox made of a job; any JSON value gives a notification.
    auto record = parseJsonText(text);
    auto notification = PageHooks::printedNotification(record);
    FUZZ_CHECK(notification.id.starts_with("printed:"));
    FUZZ_CHECK(notification.body.ends_with(" is in Quillpost. Click to save it to a client."));
    auto printed = PageHooks::printed(record);
    FUZZ_CHECK(printed.starts_with("window.__qpPrinted && window.__qpPrinted("));
    return 0;
}
