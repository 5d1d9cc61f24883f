#include "selftest/SelfTestResults.h"

#include "common/Base64.h"

namespace quillpost::SelfTestResults {

Json fromScript(const std::optional<Json>& answer, const std::string& errorMessage)
{
    if (!answer)
        return Json { { "error", errorMessage.empty() ? "The self-test script failed without saying why." : errorMessage } };
    Json results = *answer;
    if (answer->is_string())
        results = Json::parse(answer->get<std::string>(), nullptr, false);
    if (!results.is_object())
        return Json { { "error", "The self-test script didn't answer with a JSON object." } };
    return results;
}

void merge(Json& results, const Json& native)
{
    for (auto& [key, value] : native.items())
        results[key] = value;
}

std::optional<std::string> takeFormCopy(Json& results)
{
    auto found = results.find("formCopyB64");
    if (found == results.end())
        return std::nullopt;
    std::optional<std::string> bytes;
    if (found->is_string())
        bytes = base64Decode(found->get_ref<const std::string&>());
    results.erase(found);
    return bytes;
}

std::string text(const Json& results)
{
    // nlohmann's objects keep their keys sorted, so dump() writes them in order.
    return results.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}
