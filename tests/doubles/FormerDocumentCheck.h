#pragma once

// The open check as it was when it built its outline with the JSON library's parser: tests and the
// fuzz target hold the single-pass check to the same answers.
#include "common/Json.h"
#include "common/JsonText.h"

#include <algorithm>
#include <string_view>

namespace quillpost::former {

inline Json outline(std::string_view bytes)
{
    bool topLevelIsObject = false;
    auto keep = [&topLevelIsObject](int depth, Json::parse_event_t event, Json& parsed) {
        if (!depth) {
            if (event == Json::parse_event_t::object_start)
                topLevelIsObject = true;
            return true;
        }
        if (event == Json::parse_event_t::key) {
            if (depth == 1)
                return parsed == "enc" || parsed == "v" || parsed == "people";
            if (depth == 3)
                return parsed == "salt" || parsed == "priv" || parsed == "dk";
            return false;
        }
        return depth > 1 || topLevelIsObject;
    };
    const auto repaired = withLoneSurrogatesReplaced(bytes);
    return Json::parse(repaired ? std::string_view(*repaired) : bytes, keep, false);
}

inline bool holdsDocument(std::string_view bytes)
{
    const auto repaired = withLoneSurrogatesReplaced(bytes);
    const Json top = Json::parse(repaired ? std::string_view(*repaired) : bytes, [](int depth, Json::parse_event_t, Json&) { return !depth; }, false);
    return top.is_object() || top.is_array();
}

inline bool openable(std::string_view bytes)
{
    const Json document = outline(bytes);
    if (document.is_discarded())
        return false;
    // Only the encrypted form (enc true, v 2) must name its people, each with a salt and two keys.
    if (!document.is_object() || document.value("enc", Json()) != true || document.value("v", Json()) != 2)
        return true;
    const Json people = document.value("people", Json());
    return people.is_array() && !people.empty() && std::all_of(people.begin(), people.end(), [](const Json& person) {
        return person.is_object() && person.value("salt", Json()).is_string() && person.value("priv", Json()).is_object()
            && person.value("dk", Json()).is_object();
    });
}

}
