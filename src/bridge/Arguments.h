#pragma once

#include "common/Json.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillpost {

// How commands read the decoded argument list. A missing or ill-typed argument reads as the default.

// The argument at index i when it is a string, else "".
std::string str(const Json& args, std::size_t i);
// As str, without a copy: valid while args lives.
std::string_view strView(const Json& args, std::size_t i);
bool booleanArgument(const Json& args, std::size_t i, bool fallback);
std::int64_t integerArgument(const Json& args, std::size_t i, std::int64_t fallback);
double doubleArgument(const Json& args, std::size_t i, double fallback);
// The first argument when it is a dictionary, else an empty one.
Json dictionaryArgument(const Json& args);
// A string field of a dictionary argument, else the fallback.
std::string stringField(const Json& dictionary, const char* key, const std::string& fallback = "");

}
