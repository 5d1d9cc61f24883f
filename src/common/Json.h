#pragma once

// The one JSON library of the program. Every file that reads or writes JSON goes through this alias.
#include <nlohmann/json.hpp>

namespace quillpost {

using Json = nlohmann::json;

}
