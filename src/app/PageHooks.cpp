#include "app/PageHooks.h"

#include "common/Utf8.h"

namespace quillpost::PageHooks {

static std::string dump(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string stringLiteral(const std::string& text)
{
    // Repaired the way the bridge repairs its replies, so the page sees one text for the same bytes.
    return dump(Json(validUtf8(text)));
}

static std::string call(const char* hook, const std::string& argument)
{
    std::string script = "window.";
    script.append(hook).append(" && window.").append(hook).append("(").append(argument).append(")");
    return script;
}

std::string afterPageLoad(const std::string& call)
{
    std::string script = "(() => { const run = () => { ";
    script.append(call).append(" }; if (document.readyState === 'complete') run(); else window.addEventListener('load', run, { once: true }); })()");
    return script;
}

std::string menuCommand(const std::string& command)
{
    return call("__qpMenu", stringLiteral(command));
}

std::string link(const std::string& text)
{
    return call("__qpLink", stringLiteral(text));
}

std::string notificationClick(const std::string& id)
{
    if (id.starts_with("printed:"))
        return "location.hash = '#/pdf/formcopy'";
    return call("__qpNotifyClick", stringLiteral(id));
}

std::string printed(const Json& info)
{
    return call("__qpPrinted", dump(info));
}

std::string systemLock(const std::string& detail)
{
    std::string script = "window.dispatchEvent(new CustomEvent('qp-system-lock', { detail: ";
    script.append(stringLiteral(detail)).append(" }))");
    return script;
}

std::string systemLockDetail(SystemLockWatch::Event event)
{
    switch (event) {
    case SystemLockWatch::Event::ScreenLocked:
        return "com.apple.screenIsLocked";
    case SystemLockWatch::Event::ScreenSaverStarted:
        return "com.apple.screensaver.didstart";
    case SystemLockWatch::Event::WillSleep:
        return "NSWorkspaceWillSleepNotification";
    case SystemLockWatch::Event::ScreensDidSleep:
        return "NSWorkspaceScreensDidSleepNotification";
    case SystemLockWatch::Event::SessionResignedActive:
        return "NSWorkspaceSessionDidResignActiveNotification";
    }
    return "";
}

std::string fullScreen(bool entered)
{
    return entered ? "document.documentElement.classList.add('fullscreen')" : "document.documentElement.classList.remove('fullscreen')";
}

std::string downloadEnded(const Json& record)
{
    return call("__qpDownloaded", dump(record));
}

std::string sharedChanges(const Json& changes)
{
    return call("__qpShared", dump(changes));
}

std::string shareState(const Json& status)
{
    return call("__qpShareState", dump(status));
}

Notification printedNotification(const Json& info)
{
    auto name = info.is_object() && info.contains("name") && info["name"].is_string() ? std::optional(info["name"].get<std::string>()) : std::nullopt;
    Notification notification;
    notification.id = "printed:";
    notification.id.append(name.value_or(""));
    notification.title = "Exact copy received 📥";
    notification.body = name.value_or("Your form");
    notification.body.append(" is in Quillpost. Click to save it to a client.");
    return notification;
}

}
