#pragma once

#include "common/Json.h"

#include <glib.h>
#include <jsc/jsc.h>
#include <string>

namespace quillpost {

// Conversions between the engine's values and the program's JSON values.

// The JSON value of a script value, as JSON.stringify gives it; null for a value it cannot give.
Json jsonFromJavaScriptValue(JSCValue*);

// Named arguments for an async function call: the engine's a{sv} carries them as one JSON text,
// and the function body is wrapped to unpack them into its parameters.
constexpr const char* argumentsName = "__qpArguments";
GVariant* variantCarryingJson(const Json& arguments);
std::string functionTakingJsonArguments(const std::string& body, const Json& arguments);

}
