#pragma once

// The open check as it was when it built its outline with the JSON library's parser: tests and the
// fuzz target hold the single-pass check to the same answers.
#include "common/Json.h"
#include "common/JsonText.h"

#include <cstdint>
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
    if (!document.is_object())
        return true;
    const auto encrypted = document.find("enc");
    if (encrypted == document.end() || !encrypted->is_boolean() || !encrypted->get<bool>())
        return true;
    const auto version = document.find("v");
    const bool two = version != document.end()
        && ((version->is_number_integer() && version->get<std::int64_t>() == 2) || (version->is_number_float() && version->get<double>() == 2.0));
    if (!two)
        return true;
    const auto people = document.find("people");
    if (people == document.end() || !people->is_array() || people->empty())
        return false;
    for (const Json& person : *people) {
        if (!person.is_object())
            return false;
        const auto salt = person.find("salt");
        const auto privateKey = person.find("priv");
        const auto derivedKey = person.find("dk");
        if (salt == person.end() || !salt->is_string() || privateKey == person.end() || !privateKey->is_object()
            || derivedKey == person.end() || !derivedKey->is_object())
            return false;
    }
    return true;
}

}
