#include "common/JsonText.h"
#include "doubles/FormerDocumentCheck.h"
#include "store/DocumentCheck.h"

#include <gtest/gtest.h>
#include <random>

namespace quillpost {
namespace {

using namespace std::literals;

// The text with one to `most` random edits: a piece cut out, a byte put in or changed, or (when
// `cutsTail`) all after a point cut off.
std::string edited(std::string text, std::mt19937& random, std::string_view alphabet, int most, bool cutsTail)
{
    for (int edits = most > 1 ? 1 + static_cast<int>(random() % most) : 1; edits > 0; --edits) {
        const size_t at = random() % (text.size() + 1);
        const auto kind = random() % (cutsTail ? 4 : 3);
        if (kind == 0)
            text.erase(at, 1 + random() % (cutsTail ? 4 : 3));
        else if (kind == 1)
            text.insert(at, 1, alphabet[random() % alphabet.size()]);
        else if (kind == 2 && at < text.size())
            text[at] = alphabet[random() % alphabet.size()];
        else if (kind == 3)
            text.resize(at);
    }
    return text;
}

void expectSameAnswers(std::string_view text)
{
    const DocumentCheck check = checkDocument(text);
    EXPECT_EQ(check.opens, former::openable(text)) << "open check: " << text;
    EXPECT_EQ(check.whole, former::holdsDocument(text)) << "whole document: " << text;
    EXPECT_EQ(check.json, !former::outline(text).is_discarded()) << "JSON: " << text;
}

TEST(DocumentCheck, AnswersAsTheFullParseOnTrickyText)
{
    const std::string person = R"({"salt":"s","priv":{},"dk":{}})";
    const std::vector<std::string> cases {
        "", " ", "\0"s, "{}\0trailing"s, "[1,\0]"s, "1\0x"s, "{} x", "{}}", "[1,]", "{\"a\":1,}", "[01]", "[-]", "[1.]", "[.5]", "[1e]",
        "[1e+]", "[-0]", "[1E+2]", "[tru]", "[nul]", "[falsey]", "[True]", "\t\n\r [ ] \r\n", "\f[]", "[1 2]", "{\"a\" 1}", "{1:2}",
        "\xEF\xBB\xBF{}", "\xEF\xBB{}", "\xEF\xBB\xBF", " \xEF\xBB\xBF{}", "/* c */ {}", "{\"a\":1}//",
        "[1e400]", "[-1e400]", "[1e-400]", "[1.7976931348623157e308]", "[1.7976931348623159e308]", "[17976931348623159" + std::string(292, '0') + "]",
        "[1" + std::string(308, '0') + "]", "[1" + std::string(309, '0') + "]", "[0.0000e99999999]", "[1e0000000000000000000001]",
        "[18446744073709551616]", "[-9223372036854775809]",
        R"(["\u00e9\u0000\/\b\f\n\r\t\"\\"])", R"(["\x"])", R"(["\u12"])", R"(["\u12G4"])", "[\"tab\there\"]", "[\"\x7F\"]",
        "[\"caf\xC3\xA9\"]", "[\"\xC3\"]", "[\"\xC0\xAF\"]", "[\"\xED\xA0\x80\"]", "[\"\xF4\x90\x80\x80\"]", "[\"\xF4\x8F\xBF\xBF\"]", "[\"\xF0\x9F\x98\x80\"]",
        "[\"\xFF\"]", "[\"\xF8\x88\x80\x80\"]", "[\"\xE1\x80\x80\"]", "[\"\xEF\xBF\xBF\"]", "[\"\xF1\x80\x80\x80\"]", "[\"\xF3\xBF\xBF\xBF\"]",
        R"(["\ud83d"])", R"(["\ude00"])", R"(["\ud83d\ude00"])", R"(["\ud83d\u0041"])", R"(["\ud83d\ud83d\ude00"])", R"(["\\ud83d"])", R"(["\ud83d\uZZZZ"])",
        R"(["\ud83d\udfff"])", R"(["\ud83dxudfff"])",
        R"(["\uD83D\uDE00"])", "[\"unterminated", "[\"a\"\"b\"]",
        R"({"enc":true,"v":2,"people":[)" + person + "]}",
        R"({"people":[)" + person + R"(],"v":2,"enc":true})",
        R"({"enc":true,"v":2,"people":[)" + person + R"(],"people":[]})",
        R"({"enc":true,"v":2,"people":[],"people":[)" + person + "]}",
        R"({"enc":true,"enc":false,"v":2,"people":[]})",
        R"({"enc":false,"enc":true,"v":2,"people":[]})",
        R"({"enc":true,"v":2,"v":3,"people":[]})",
        R"({"enc":true,"v":2.0,"people":[]})", R"({"enc":true,"v":20e-1,"people":[]})", R"({"enc":true,"v":2.0000000000000001,"people":[]})",
        R"({"enc":true,"v":1.9999999999999999,"people":[]})", R"({"enc":true,"v":-2,"people":[]})", R"({"enc":true,"v":2e0,"people":[]})",
        R"({"enc":true,"v":"2","people":[]})", R"({"enc":1,"v":2,"people":[]})", R"({"enc":"true","v":2,"people":[]})",
        R"({"\u0065nc":true,"v":2,"people":[]})", R"({"enc":true,"\u0076":2,"peo\u0070le":[{"s\u0061lt":"","priv":{},"dk":{}}]})",
        R"({"enc":true,"v":2,"people":{}})", R"({"enc":true,"v":2,"people":[[]]})", R"({"enc":true,"v":2,"people":[null]})",
        R"({"enc":true,"v":2,"people":[{"salt":"s","priv":{},"dk":{},"salt":1}]})",
        R"({"enc":true,"v":2,"people":[{"salt":1,"priv":{},"dk":{},"salt":"s"}]})",
        R"({"enc":true,"v":2,"people":[{"salt":"s","priv":{"salt":1},"dk":{"people":[]}}]})",
        R"({"enc":true,"v":2,"people":[{"salt":"s","priv":{},"dk":{}},{"salt":"s","priv":[],"dk":{}}]})",
        R"({"enc":true,"v":2,"people":[{"salt":"s","priv":{},"dk":{}},{"salt":"s","priv":{},"dk":{}}]})",
        R"({"enc":true,"v":2,"x":{"people":[{"salt":"s","priv":{},"dk":{}}]}})",
        R"([{"enc":true,"v":2,"people":[]}])", R"({"enc":true,"v":2,"people":[)" + person + R"(]} )", R"({"enc":true,"v":2,"people":[)" + person + "]",
        R"({"enc":true,"v":2})", R"({"enc":true,"v":1})", R"({"enc":"yes","v":2})", "{\"clients\": [{\"name\": \"\xFF\"}], \"enc\": false}",
        R"({"enc":true,"v":2,"people":[{"salt":"s","priv":{"k":[1,{"x":2}]},"dk":{},"name":"n"}],"clients":[{"people":[]}]})",
        R"({"enc":true,"v":2,"people":[)" + person + ",5]}", R"({"enc":true,"v":2,"people":[{"salt":"s","priv":{},"dk":[]}]})",
        R"({"enc":true,"v":2,"people":[{"salt":"s","dk":{}}]})", R"({"enc":true,"v":2,"people":[{"salt":"\ud83d","priv":{}}]})",
        R"({"enc":true,"v":2,"people":[{"salt":"\ud83d","priv":{},"dk":{}}]})", R"({"enc":true,"v":2,"people":[{"salt":"\u00","priv":{},"dk":{}}]})",
        std::string(10000, '[') + std::string(10000, ']'), std::string(10000, '[') + std::string(9999, ']'),
        "{\"enc\":true,\"v\":2,\"people\":[" + person + "],\"deep\":" + std::string(3000, '[') + std::string(3000, ']') + "}",
    };
    for (const auto& text : cases)
        expectSameAnswers(text);
}

TEST(DocumentCheck, AnswersAsTheFullParseOnEditedDocuments)
{
    const std::string base = R"({"enc":true,"v":2,"people":[{"salt":"c2FsdA==","priv":{"iv":"\u00e9x","ct":[1,2.5e3,-0.1]},"dk":{"k":null}},)"
                             R"({"name":"Zoë \ud83d\ude00","salt":"s","priv":{},"dk":{"a":true,"b":false}}],"clients":[{"id":"c-1","n":12345678901234567890}]})";
    std::mt19937 random(14);
    for (int round = 0; round < 20000; ++round)
        expectSameAnswers(edited(base, random, "{}[]\",:\\u0123456789.eE+-tfnrl \t\x00\x80\xC3\xA9\xED\xEF\xFF"sv, 3, true));
}

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
    std::mt19937 random(2);
    for (int round = 0; round < 20000; ++round) {
        const std::string text = edited(base, random, "{}[]\",:\\u0123456789.eE+-tfnrl \t\x00\x80\xC3\xA9\xED\xFF"sv, 1, false);
        expectSameValue(text);
        const Json body = parseJsonText(text);
        if (body.is_object() && body.contains("args") && body["args"].is_string())
            expectSameValue(body["args"].get<std::string>());
    }
}

}
}
