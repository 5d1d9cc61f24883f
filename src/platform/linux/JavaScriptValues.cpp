#include "platform/linux/JavaScriptValues.h"

#include "common/JsonText.h"

namespace quillpost {

Json jsonFromJavaScriptValue(JSCValue* value)
{
    if (!value)
        return Json();
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
