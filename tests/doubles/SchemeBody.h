#pragma once

#include "platform/WebView.h"

#include <string>
#include <unistd.h>

namespace quillpost {

// What a scheme's answer carries, from memory or read from its file.
inline std::string bodyOf(SchemeResponse& response)
{
    if (!response.bodyFile)
        return response.body;
    std::string bytes;
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(response.bodyFile.get(), buffer, sizeof(buffer))) > 0)
        bytes.append(buffer, static_cast<size_t>(count));
    return bytes;
}

}
