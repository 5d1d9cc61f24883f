#include "common/JsonText.h"

#include <gtest/gtest.h>
#include <random>

namespace quillpost {
namespace {

using namespace std::literals;

// parseJsonText as the JSON library alone reads it, without the faster reader in front.
Json libraryReading(std::string_view text)
{
    const auto repaired = withLoneSurrogatesReplaced(text);
    bool tooDeep = false;
    auto limit = [&tooDeep](int depth, Json::parse_event_t, Json&) {
        tooDeep = tooDeep || depth > maximumJsonDepth;
        return !tooDeep;
    };
    Json value = Json::parse(repaired ? std::string_view(*repaired) : text, limit, false);
    return tooDeep ? Json(Json::value_t::discarded) : value;
}

void expectSameValue(std::string_view text)
{
    const Json fast = parseJsonText(text);
    const Json library = libraryReading(text);
    ASSERT_EQ(fast.is_discarded(), library.is_discarded()) << text;
    if (fast.is_discarded())
        return;
    EXPECT_EQ(fast, library) << text;
    // Same types too: 1 is unsigned, -1 signed, 1.0 a double.
    EXPECT_EQ(fast.dump(), library.dump()) << text;
}

TEST(JsonText, ReadsMessagesAsTheJsonLibraryDoes)
{
    const std::vector<std::string> cases {
        R"({"cmd":"save","args":"[\"{\\\"v\\\":1,\\\"name\\\":\\\"Zo\\u00eb \\ud83d\\\"}\"]"})",
        R"({"cmd":"x","cmd":"y","args":"[]"})", R"(["\ud83d","\ude00x","\ud83d\ude00","\\ud83d","\u0000"])", R"([1,-1,0,-0,1.0,1e2,-1.5E-3,123456789012345678,1234567890123456789,18446744073709551616,-9223372036854775809])",
        R"([1e400])", R"({"a":{"b":[true,false,null]}} )", "\xEF\xBB\xBF[1]", "[1]\0x"s, "[\"\xC3\xA9\"]", "[\"\xC3\"]", "[\"a\tb\"]", "[01]", "[1,]", "{\"a\":1,}",
        "", "  ", "nul", "\"lone\"", "[\"\\u12\"]", "{\"a\" :\n 1 , \"b\":[ ]\t}", std::string(600, '[') + std::string(600, ']'),
        std::string(512, '[') + std::string(512, ']'), std::string(513, '[') + std::string(513, ']'), std::string(100, '[') + "1" + std::string(100, ']'),
        R"(["Zo\u00eb","\u0041\ud83d\ude00\u00e9","\udfff\udc00"])",
    };
    for (const auto& text : cases)
        expectSameValue(text);
}

TEST(JsonText, ReadsEditedMessagesAsTheJsonLibraryDoes)
{
    const std::string base = R"({"cmd":"saveDocument","args":"[{\"client\":\"Zoë\",\"sub\":\"\",\"n\":[1,2.5,-3e2,true,null],\"bytes\":\"JVBERi0=\\ud83d\"}]"})";
    const std::string_view alphabet = "{}[]\",:\\u0123456789.eE+-tfnrl \t\x00\x80\xC3\xA9\xED\xFF"sv;
    std::mt19937 random(2);
    for (int round = 0; round < 20000; ++round) {
        std::string text = base;
        const size_t at = random() % (text.size() + 1);
        switch (random() % 3) {
        case 0:
            text.erase(at, 1 + random() % 3);
            break;
        case 1:
            text.insert(at, 1, alphabet[random() % alphabet.size()]);
            break;
        default:
            if (at < text.size())
                text[at] = alphabet[random() % alphabet.size()];
            break;
        }
        expectSameValue(text);
        // The argument list inside, read again as Bridge::decode reads it.
        const Json body = parseJsonText(text);
        if (body.is_object() && body.contains("args") && body["args"].is_string())
            expectSameValue(body["args"].get<std::string>());
    }
}

}
}
