#include "platform/linux/JavaScriptValues.h"

namespace quillpost {

static Json parseJavaScriptJson(JSCValue* value)
{
    g_autofree char* text = jsc_value_to_json(value, 0);
    if (!text)
        return Json();
    return Json::parse(text, nullptr, false);
}

Json jsonFromJavaScriptValue(JSCValue* value)
{
    if (!value)
        return Json();
    if (jsc_value_is_string(value)) {
        g_autofree char* text = jsc_value_to_string(value);
        return text ? Json(text) : Json();
    }
    if (!jsc_value_is_object(value) || jsc_value_is_array(value) || jsc_value_is_function(value))
        return parseJavaScriptJson(value);

    auto object = Json::object();
    g_auto(GStrv) names = jsc_value_object_enumerate_properties(value);
    for (auto** name = names; name && *name; ++name) {
        g_autoptr(JSCValue) property = jsc_value_object_get_property(value, *name);
        if (jsc_value_is_undefined(property) || jsc_value_is_function(property))
            continue;
        if (jsc_value_is_string(property)) {
            g_autofree char* text = jsc_value_to_string(property);
            object[*name] = text ? text : "";
            continue;
        }
        auto parsed = parseJavaScriptJson(property);
        if (parsed.is_discarded())
            continue;
        object[*name] = std::move(parsed);
    }
    return object;
}

GVariant* variantCarryingJson(const Json& arguments)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    auto text = arguments.dump(-1, ' ', false, Json::error_handler_t::replace);
    g_variant_builder_add(&builder, "{sv}", argumentsName, g_variant_new_string(text.c_str()));
    return g_variant_builder_end(&builder);
}

std::string functionTakingJsonArguments(const std::string& body, const Json& arguments)
{
    // The engine passes only numbers, strings and dictionaries, so the named arguments travel as
    // one JSON text and are unpacked into the parameters of the caller's function.
    std::string parameters;
    std::string keys;
    if (arguments.is_object()) {
        for (auto& [name, value] : arguments.items()) {
            parameters += (parameters.empty() ? "" : ", ") + name;
            keys += (keys.empty() ? "" : ", ") + Json(name).dump();
        }
    }
    return std::string("const __qpValues = JSON.parse(") + argumentsName + ");\n"
        + "return await (async function (" + parameters + ") {\n" + body + "\n}).apply(this, [" + keys + "].map(name => __qpValues[name]));";
}

}
