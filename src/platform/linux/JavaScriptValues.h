#pragma once

#include "common/Json.h"

#include <glib.h>
#include <jsc/jsc.h>

namespace quillpost {

// Conversions between the engine's values and the program's JSON values.

// The JSON value of a script value. Strings at the first level of an object are taken directly,
// so a large text posted by the page is not escaped and parsed again.
Json jsonFromJavaScriptValue(JSCValue*);

// A dictionary of named arguments for an async function call (a{sv}).
GVariant* variantFromJsonObject(const Json&);

}
