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

static GVariant* variantFromJson(const Json& value)
{
    switch (value.type()) {
    case Json::value_t::boolean:
        return g_variant_new_boolean(value.get<bool>());
    case Json::value_t::number_integer:
        return g_variant_new_int64(value.get<std::int64_t>());
    case Json::value_t::number_unsigned:
        return g_variant_new_uint64(value.get<std::uint64_t>());
    case Json::value_t::number_float:
        return g_variant_new_double(value.get<double>());
    case Json::value_t::string: {
        auto& text = value.get_ref<const std::string&>();
        g_autofree char* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
        return g_variant_new_string(valid);
    }
    case Json::value_t::object:
        return variantFromJsonObject(value);
    case Json::value_t::array: {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("av"));
        for (auto& element : value)
            g_variant_builder_add(&builder, "v", variantFromJson(element));
        return g_variant_builder_end(&builder);
    }
    default:
        // The engine has no null in a GVariant; an empty "maybe" arrives as null.
        return g_variant_new_maybe(G_VARIANT_TYPE_STRING, nullptr);
    }
}

GVariant* variantFromJsonObject(const Json& object)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    if (object.is_object()) {
        for (auto& [key, value] : object.items())
            g_variant_builder_add(&builder, "{sv}", key.c_str(), variantFromJson(value));
    }
    return g_variant_builder_end(&builder);
}

}
