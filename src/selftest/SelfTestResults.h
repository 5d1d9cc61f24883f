#pragma once

#include "common/Json.h"

#include <optional>
#include <string>

namespace quillpost::SelfTestResults {

// The test script's answer as the results object: the object its JSON text holds, or
// {"error": …} when the script failed or answered anything else.
Json fromScript(const std::optional<Json>& answer, const std::string& errorMessage);

// Adds the native measurements, replacing what the script gave under the same keys.
void merge(Json& results, const Json& native);

// Takes "formCopyB64" out of the results; the copy's bytes when it was a Base64 string.
std::optional<std::string> takeFormCopy(Json& results);

// results.json: pretty-printed, keys sorted.
std::string text(const Json& results);

}
