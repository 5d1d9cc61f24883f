#include "platform/linux/JavaScriptValues.h"

#include "common/JsonText.h"

namespace quillpost {

// A message whose "args" is a long text (a document being saved) would be escaped by
// JSON.stringify and unescaped again by the parser. When that text is well formed and holds no
// NUL, so that the engine's UTF-8 conversion keeps it exactly, it is taken over as it is and only
// the message's other own members go through JSON.
static constexpr double longArguments = 65536;
static constexpr const char* splitLongArguments = R"((function (message) {
    const own = Object.getOwnPropertyDescriptor(message, 'args');
    const text = own && own.value;
    if (typeof text !== 'string' || !text.isWellFormed() || text.includes('\0'))
        return null;
    const rest = {};
    for (const key of Object.keys(message)) {
        if (key !== 'args')
            rest[key] = message[key];
    }
    return [JSON.stringify(rest), text];
}))";

static std::optional<Json> messageWithLongArguments(JSCValue* value)
{
    if (!jsc_value_is_object(value) || jsc_value_is_array(value) || jsc_value_is_function(value))
        return std::nullopt;
    // Most messages are small: their length is read without a call into script.
    {
        g_autoptr(JSCValue) arguments = jsc_value_object_get_property(value, "args");
        if (!arguments || !jsc_value_is_string(arguments))
            return std::nullopt;
        g_autoptr(JSCValue) length = jsc_value_object_get_property(arguments, "length");
        if (!length || !jsc_value_is_number(length) || jsc_value_to_double(length) < longArguments)
            return std::nullopt;
    }
    JSCContext* context = jsc_value_get_context(value);
    // Compiled once per context and kept with it.
    auto* split = static_cast<JSCValue*>(g_object_get_data(G_OBJECT(context), "quillpost-split-arguments"));
    if (!split) {
        split = jsc_context_evaluate(context, splitLongArguments, -1);
        if (!split || !jsc_value_is_function(split)) {
            g_clear_object(&split);
            jsc_context_clear_exception(context);
            return std::nullopt;
        }
        g_object_set_data_full(G_OBJECT(context), "quillpost-split-arguments", split, g_object_unref);
    }
    g_autoptr(JSCValue) parts = jsc_value_function_call(split, JSC_TYPE_VALUE, value, G_TYPE_NONE);
    if (!parts || !jsc_value_is_array(parts)) {
        jsc_context_clear_exception(context);
        return std::nullopt;
    }
    g_autoptr(JSCValue) rest = jsc_value_object_get_property_at_index(parts, 0);
    g_autoptr(JSCValue) text = jsc_value_object_get_property_at_index(parts, 1);
    g_autofree char* restText = jsc_value_is_string(rest) ? jsc_value_to_string(rest) : nullptr;
    Json message = restText ? parseJsonText(restText) : Json();
    if (!message.is_object() || !jsc_value_is_string(text))
        return std::nullopt;
    g_autoptr(GBytes) bytes = jsc_value_to_string_as_bytes(text);
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    message["args"] = std::string(data ? data : "", size);
    return message;
}

Json jsonFromJavaScriptValue(JSCValue* value)
{
    if (!value)
        return Json();
    if (auto message = messageWithLongArguments(value))
        return std::move(*message);
    // Through JSON.stringify, so that what the page sent is read whole: a string keeps the text
    // after a NUL and its lone surrogates (escaped, then read as U+FFFD), and an object gives only
    // its own properties, never one inherited through __proto__.
    g_autofree char* text = jsc_value_to_json(value, 0);
    if (!text) {
        // undefined, a function, or a value that cannot be stringified (cyclic, too deep).
        if (JSCContext* context = jsc_value_get_context(value))
            jsc_context_clear_exception(context);
        return Json();
    }
    return parseJsonText(text);
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
    // Built with append: GCC 12 warns falsely about chains of operator+ on strings.
    std::string function = "const __qpValues = JSON.parse(";
    function.append(argumentsName).append(");\nreturn await (async function (").append(parameters).append(") {\n");
    function.append(body).append("\n}).apply(this, [").append(keys).append("].map(name => __qpValues[name]));");
    return function;
}

}
