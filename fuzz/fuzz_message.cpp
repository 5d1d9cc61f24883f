// A message the page posts to "qp": decoding the body, then the readers commands use on its arguments.
#include "FuzzCheck.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

using namespace quillpost;

namespace {

void readArguments(const Json& args)
{
    for (std::size_t index : { std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(9), std::numeric_limits<std::size_t>::max() }) {
        const bool present = index < args.size();
        const std::string text = str(args, index);
        FUZZ_CHECK(text.empty() || (present && args[index].is_string()));

        // A value that is not of the asked type reads as the fallback, whichever fallback it is.
        const bool isBoolean = present && args[index].is_boolean();
        FUZZ_CHECK(isBoolean || (booleanArgument(args, index, true) && !booleanArgument(args, index, false)));

        const bool isNumber = present && args[index].is_number();
        const std::int64_t integer = integerArgument(args, index, 7);
        FUZZ_CHECK(isNumber || integer == 7);
        const double number = doubleArgument(args, index, 0.5);
        FUZZ_CHECK(isNumber || number == 0.5);
        // A number in the integer range reads as its truncation.
        if (isNumber && std::isfinite(number) && std::fabs(number) < 9.0e15)
            FUZZ_CHECK(integer == static_cast<std::int64_t>(std::trunc(number)));
    }

    const Json dictionary = dictionaryArgument(args);
    FUZZ_CHECK(dictionary.is_object());
    for (const char* key : { "name", "path", "cmd", "" }) {
        const std::string field = stringField(dictionary, key, "fallback");
        const auto entry = dictionary.find(key);
        FUZZ_CHECK(entry != dictionary.end() && entry->is_string() ? field == entry->get_ref<const std::string&>() : field == "fallback");
    }
}

void decodeAndRead(const Json& body)
{
    const auto message = Bridge::decode(body);
    if (!message)
        return;
    FUZZ_CHECK(body.is_object() && body.at("cmd").is_string());
    // Whatever "args" held, the command sees a list.
    FUZZ_CHECK(message->args.is_array());
    readArguments(message->args);
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);

    // The posted value, once converted to JSON.
    const Json body = Json::parse(input, nullptr, false);
    if (!body.is_discarded())
        decodeAndRead(body);

    // The argument text itself, as the page-API script's JSON.stringify would send it.
    decodeAndRead(Json { { "cmd", "x" }, { "args", input } });
    return 0;
}
