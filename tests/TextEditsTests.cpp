#include "doubles/CommandHarness.h"
#include "store/TextEdits.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace quillpost;

namespace {

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}

// Places count UTF-16 units: "é" is one, "𝄞" two (a surrogate pair), whatever their UTF-8 length.
TEST(TextEdits, PlacesCountUtf16UnitsAndEditsMustFitTheText)
{
    const std::string text = "{\"a\":\"é\",\"b\":\"𝄞x\",\"c\":1}";
    struct Case {
        const char* name;
        std::vector<TextEdit> edits;
        std::optional<std::string> result;
    };
    const Case cases[] = {
        { "none", {}, text },
        { "after a two-byte character", { { 9, "\"b\"", "\"B\"" } }, "{\"a\":\"é\",\"B\":\"𝄞x\",\"c\":1}" },
        { "after a surrogate pair", { { 16, "x", "yz" } }, "{\"a\":\"é\",\"b\":\"𝄞yz\",\"c\":1}" },
        { "the pair itself, then the end", { { 14, "𝄞", "" }, { 24, "}", "}\n" } }, "{\"a\":\"é\",\"b\":\"x\",\"c\":1}\n" },
        { "insertion at the start", { { 0, "", " " } }, " " + text },
        { "two in order", { { 1, "\"a\"", "\"A\"" }, { 23, "1", "2" } }, "{\"A\":\"é\",\"b\":\"𝄞x\",\"c\":2}" },
        { "inside the surrogate pair", { { 15, "", "!" } }, std::nullopt },
        { "text that didn't stand there", { { 9, "\"c\"", "\"B\"" } }, std::nullopt },
        { "before text longer than the rest", { { 24, "}}", "}" } }, std::nullopt },
        { "past the end", { { 26, "", "x" } }, std::nullopt },
        { "out of order", { { 23, "1", "2" }, { 1, "\"a\"", "\"A\"" } }, std::nullopt },
        { "overlapping", { { 1, "\"a\":", "" }, { 3, "\":", "" } }, std::nullopt },
    };
    for (const auto& c : cases)
        EXPECT_EQ(applyTextEdits(text, c.edits), c.result) << c.name;
}

// The edits go through the save's whole path (open check, .bak), and only ever onto the file the
// last save wrote or load read: anything else makes the page send the whole text.
TEST(TextEdits, SaveEditsChangesOnlyTheFileTheLastSaveWrote)
{
    CommandHarness harness;
    const auto edits = [&](const Json& list) { return harness.send("saveEdits", Json::array({ list })); };
    const auto data = harness.store().data();
    const std::string first = R"({"version":3,"clients":[{"id":"a","name":"Zoë"}]})";

    EXPECT_TRUE(edits(Json::array())->error) << "nothing saved yet";
    ASSERT_EQ(harness.send("save", Json::array({ first }))->result, "true");

    EXPECT_EQ(edits(Json::array({ Json::array({ 42, "Zoë", "Zoë Ng" }) }))->result, "true");
    const std::string second = R"({"version":3,"clients":[{"id":"a","name":"Zoë Ng"}]})";
    EXPECT_EQ(fileText(data), second);
    EXPECT_EQ(fileText(harness.store().dir() / "data.json.bak"), first);

    EXPECT_TRUE(edits(Json::array({ Json::array({ 42, "Zoë\"", "Ann\"" }) }))->error) << "the text the page remembers is older";
    EXPECT_TRUE(edits(Json::array({ Json::array({ 0, "{", "[" }) }))->error) << "a document that would not open";
    for (const Json& malformed : { Json("[]"), Json::array({ Json::array({ -1, "", "" }) }), Json::array({ Json::array({ 0, "{" }) }) })
        EXPECT_TRUE(edits(malformed)->error) << malformed.dump();
    EXPECT_EQ(fileText(data), second);

    // Another program (or a restored copy) put a different file in data.json's place.
    std::ofstream(data, std::ios::binary | std::ios::trunc) << second;
    std::filesystem::last_write_time(data, std::filesystem::last_write_time(data) + std::chrono::seconds(5));
    EXPECT_TRUE(edits(Json::array({ Json::array({ 42, "Zoë\"", "Ann\"" }) }))->error);
    EXPECT_EQ(fileText(data), second);

    // A load gives the page the file's text, and edits go onto that.
    harness.send("load");
    EXPECT_EQ(edits(Json::array({ Json::array({ 42, "Zoë Ng", "Ann" }) }))->result, "true");
    EXPECT_EQ(fileText(data), R"({"version":3,"clients":[{"id":"a","name":"Ann"}]})");
}
