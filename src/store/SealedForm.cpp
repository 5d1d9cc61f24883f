#include "store/SealedForm.h"

#include "common/Json.h"
#include "common/JsonText.h"

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <vector>

namespace quillpost {

namespace {

constexpr std::array topMembers { "enc", "v", "people", "iv", "ct" };
constexpr std::array personMembers { "name", "salt", "priv", "dk" };
constexpr std::array derivationMembers { "kdf", "hash", "iterations" };
// The deepest the form goes: the document, people, a person, its "priv" or "dk".
constexpr int deepestLevel = 4;

template<size_t size>
bool oneOf(const std::array<const char*, size>& names, const std::string& name)
{
    return std::any_of(names.begin(), names.end(), [&name](const char* allowed) { return name == allowed; });
}

// A first pass that builds nothing and stops at the first member the form does not have, so that a
// readable practice document of many megabytes is told apart after its first key.
class FormScreen : public nlohmann::json_sax<Json> {
public:
    // A scalar or an array at the top is not the form.
    bool null() override { return inside(); }
    bool boolean(bool) override { return inside(); }
    bool number_integer(number_integer_t) override { return inside(); }
    bool number_unsigned(number_unsigned_t) override { return inside(); }
    bool number_float(number_float_t, const string_t&) override { return inside(); }
    bool string(string_t&) override { return inside(); }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override
    {
        m_keys.emplace_back();
        return static_cast<int>(m_keys.size()) <= deepestLevel;
    }
    bool key(string_t& name) override
    {
        // A repeated member would let a readable value hide behind the one that counts.
        if (!m_keys.back().insert(name).second)
            return false;
        return m_keys.size() != 1 || oneOf(topMembers, name);
    }
    bool end_object() override
    {
        m_keys.pop_back();
        return true;
    }
    bool start_array(std::size_t) override
    {
        if (!inside())
            return false;
        m_keys.emplace_back();
        return static_cast<int>(m_keys.size()) <= deepestLevel;
    }
    bool end_array() override
    {
        m_keys.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool inside() const { return !m_keys.empty(); }

    std::vector<std::set<std::string>> m_keys;
};

bool screened(std::string_view bytes)
{
    FormScreen screen;
    return Json::sax_parse(bytes.begin(), bytes.end(), &screen);
}

bool isBase64(const Json& value)
{
    if (!value.is_string())
        return false;
    const auto& text = value.get_ref<const std::string&>();
    if (text.empty() || text.size() % 4)
        return false;
    const size_t padding = text.size() - text.find_last_not_of('=') - 1;
    if (padding > 2)
        return false;
    return std::all_of(text.begin(), text.end() - static_cast<std::ptrdiff_t>(padding), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    });
}

template<size_t size>
bool onlyMembers(const Json& object, const std::array<const char*, size>& names)
{
    return object.is_object() && std::all_of(object.items().begin(), object.items().end(), [&names](const auto& member) {
        return oneOf(names, member.key());
    });
}

bool isPerson(const Json& person)
{
    if (!onlyMembers(person, personMembers))
        return false;
    if (person.contains("name") && !person["name"].is_string())
        return false;
    if (!person.contains("salt") || !isBase64(person["salt"]))
        return false;
    const auto derivation = person.find("priv");
    if (derivation == person.end() || !onlyMembers(*derivation, derivationMembers))
        return false;
    for (const auto& parameter : *derivation) {
        if (!parameter.is_string() && !parameter.is_number())
            return false;
    }
    const auto key = person.find("dk");
    return key != person.end() && key->is_object() && key->size() == 2 && key->contains("iv") && key->contains("ct")
        && isBase64((*key)["iv"]) && isBase64((*key)["ct"]);
}

}

bool isSealedDocument(std::string_view bytes)
{
    // The page writes a lone surrogate that a name may hold as an escape the library refuses.
    if (!screened(bytes)) {
        const auto repaired = withLoneSurrogatesReplaced(bytes);
        if (!repaired || !screened(*repaired))
            return false;
    }

    const Json document = parseJsonText(bytes);
    if (!document.is_object() || document.size() != topMembers.size())
        return false;
    for (const char* name : topMembers) {
        if (!document.contains(name))
            return false;
    }
    const Json& version = document["v"];
    if (document["enc"] != true || !version.is_number_integer() || version.get<long long>() != 2)
        return false;
    if (!isBase64(document["iv"]) || !isBase64(document["ct"]))
        return false;
    const Json& people = document["people"];
    return people.is_array() && !people.empty() && std::all_of(people.begin(), people.end(), isPerson);
}

}
