#pragma once

#include <string>

namespace quillpost {

// Messages for the system log (the journal), with the program's name as their domain.
namespace Log {

void error(const std::string& message);
void info(const std::string& message);

}

}
