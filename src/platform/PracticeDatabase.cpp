#include "platform/PracticeDatabase.h"

namespace quillpost {

bool ServerAddress::loopback() const
{
    // A socket folder (libpq reads a host that starts with "/" as one) is on this computer too.
    return host == "localhost" || host == "::1" || host.starts_with("127.") || host.starts_with("/");
}

std::string ServerAddress::hostAndPort() const
{
    return host + ":" + std::to_string(port);
}

}
