#include "bridge/Arguments.h"

#include <cmath>
#include <limits>

namespace quillpost {

static const Json* argumentAt(const Json& args, std::size_t i)
{
    if (!args.is_array() || i >= args.size())
        return nullptr;
    return &args[i];
}

std::string str(const Json& args, std::size_t i)
{
    auto* value = argumentAt(args, i);
    if (!value || !value->is_string())
        return {};
    return value->get<std::string>();
}

std::string_view strView(const Json& args, std::size_t i)
{
    auto* value = argumentAt(args, i);
    if (!value || !value->is_string())
        return {};
    return value->get_ref<const std::string&>();
}

bool booleanArgument(const Json& args, std::size_t i, bool fallback)
{
    auto* value = argumentAt(args, i);
    if (!value || !value->is_boolean())
        return fallback;
    return value->get<bool>();
}

std::int64_t integerArgument(const Json& args, std::size_t i, std::int64_t fallback)
{
    auto* value = argumentAt(args, i);
    if (!value || !value->is_number())
        return fallback;
    if (value->is_number_integer() && !value->is_number_unsigned())
        return value->get<std::int64_t>();
    if (value->is_number_unsigned()) {
        auto unsignedValue = value->get<std::uint64_t>();
        return unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(unsignedValue);
    }
    // Like a platform number's integer value: truncated, and clamped instead of overflowing.
    double number = value->get<double>();
    if (std::isnan(number))
        return 0;
    if (number >= static_cast<double>(std::numeric_limits<std::int64_t>::max()))
        return std::numeric_limits<std::int64_t>::max();
    if (number <= static_cast<double>(std::numeric_limits<std::int64_t>::min()))
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(number);
}

double doubleArgument(const Json& args, std::size_t i, double fallback)
{
    auto* value = argumentAt(args, i);
    if (!value || !value->is_number())
        return fallback;
    return value->get<double>();
}

Json dictionaryArgument(const Json& args)
{
    auto* value = argumentAt(args, 0);
    if (!value || !value->is_object())
        return Json::object();
    return *value;
}

std::string stringField(const Json& dictionary, const char* key, const std::string& fallback)
{
    if (!dictionary.is_object())
        return fallback;
    auto it = dictionary.find(key);
    if (it == dictionary.end() || !it->is_string())
        return fallback;
    return it->get<std::string>();
}

}
