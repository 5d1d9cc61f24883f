#pragma once

#include <string>

namespace quillpost {

// A new random (version 4) UUID in its standard text form, from the system's secure random source.
std::string randomUuid();

}
