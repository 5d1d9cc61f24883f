#include "platform/Log.h"

#include <glib.h>

namespace quillpost::Log {

static void write(GLogLevelFlags level, const std::string& message)
{
    g_log_structured("Quillpost", level, "MESSAGE", "%s", message.c_str());
}

void error(const std::string& message)
{
    write(G_LOG_LEVEL_WARNING, message);
}

void info(const std::string& message)
{
    write(G_LOG_LEVEL_INFO, message);
}

}
