#include "bridge/ByteChannel.h"
#include "bridge/PdfFormCopy.h"

#include "common/Base64.h"
#include "doubles/CommandHarness.h"
#include "doubles/SamplePdf.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quillpost {
namespace {

bool contains(const std::vector<std::string>& text, std::string_view wanted)
{
    return std::any_of(text.begin(), text.end(), [&](const std::string& piece) { return piece.find(wanted) != std::string::npos; });
}

std::optional<PdfFormCopy::Refusal> refusalOf(std::string_view pdf)
{
    auto result = PdfFormCopy::flatten(pdf);
    if (auto* refusal = std::get_if<PdfFormCopy::Refusal>(&result))
        return *refusal;
    return std::nullopt;
}

TEST(PdfFormCopy, BakesThePrintedValuesIntoThePagesAndLeavesNoForm)
{
    for (bool drawn : { false, true }) {
        SCOPED_TRACE(drawn ? "appearance streams" : "NeedAppearances");
        auto result = PdfFormCopy::flatten(filledFormPdf({ .pages = 3, .drawn = drawn }));
        ASSERT_TRUE(std::holds_alternative<PdfFormCopy::Copy>(result));
        auto& copy = std::get<PdfFormCopy::Copy>(result);

        EXPECT_EQ(copy.pages, 3);
        EXPECT_EQ(copy.fields, 2);
        EXPECT_TRUE(contains(copy.text, sampleFormValue)) << testing::PrintToString(copy.text);
        EXPECT_TRUE(contains(copy.text, "Application for a study permit")) << "the page's own text stays";
        EXPECT_FALSE(contains(copy.text, sampleFormHiddenValue)) << "a hidden field is not drawn";

        auto facts = pdfFacts(copy.bytes);
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->pages, 3);
        EXPECT_FALSE(facts->acroForm);
        EXPECT_EQ(facts->widgets, 0);
        // The text the copy reports is what any reader of the copy finds.
        EXPECT_EQ(PdfFormCopy::drawnText(copy.bytes), copy.text);
    }
}

TEST(PdfFormCopy, RefusesWhatItCannotMakeACopyOfAndReadsTextThroughNestedForms)
{
    using enum PdfFormCopy::Refusal;
    const std::string form = filledFormPdf();
    EXPECT_EQ(refusalOf(""), NotPdf);
    EXPECT_EQ(refusalOf("%!PS-Adobe-3.0\nshowpage\n"), NotPdf);
    EXPECT_EQ(refusalOf(form.substr(0, form.size() / 2)), Damaged) << "truncated";
    EXPECT_EQ(refusalOf("%PDF-1.7\n" + std::string(4000, 'x')), Damaged);
    EXPECT_EQ(refusalOf(filledFormPdf({ .userPassword = "client-secret" })), PasswordProtected);
    EXPECT_EQ(refusalOf(filledFormPdf({ .userPassword = "" })), PasswordProtected) << "an owner password only";
    EXPECT_EQ(refusalOf(samplePdf(2)), NoFields);
    EXPECT_EQ(refusalOf(form), std::nullopt);

    // The drawn text follows form XObjects that draw each other, and reads only what it can.
    auto text = PdfFormCopy::drawnText(nestedFormXObjectsPdf());
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, (std::vector<std::string> { "page", "quote", "double quote", "outer", "inner" }));
    EXPECT_EQ(PdfFormCopy::drawnText("not a pdf"), std::nullopt);
    EXPECT_EQ(PdfFormCopy::drawnText(samplePdf(1, "secret")), std::nullopt);
}

TEST(FlattenPdfCommand, AnswersTheCopyEitherWayOrSaysWhyNot)
{
    CommandHarness harness;
    auto answer = harness.send("flattenPdf", Json::array({ { { "bytes", base64Encode(filledFormPdf()) } } }));
    ASSERT_TRUE(answer->result) << answer->error.value_or("");
    EXPECT_EQ(answer->json()["fields"], 2);
    EXPECT_TRUE(contains(answer->json()["text"].get<std::vector<std::string>>(), sampleFormValue));
    EXPECT_FALSE(pdfFacts(base64Decode(answer->json()["bytes"].get<std::string>()).value_or(""))->acroForm);

    // Large bytes go both ways through the side channel.
    auto& channel = harness.bridge().byteChannel();
    const std::string large = filledFormPdf({ .filler = 200'000 });
    auto uploaded = channel.answer({ std::string(ByteChannel::addressPrefix), "POST", large });
    auto channelled = harness.sendViaChannel("flattenPdf", Json::array({ { { "bytes", uploaded.body } } }));
    ASSERT_TRUE(channelled->result) << channelled->error.value_or("");
    const std::string address = channelled->json()["bytes"].get<std::string>();
    ASSERT_TRUE(ByteChannel::isAddress(address));
    auto fetched = channel.answer({ address, "GET", {} }).body;
    EXPECT_GT(fetched.size(), 200'000u);
    EXPECT_EQ(pdfFacts(fetched)->widgets, 0);
    EXPECT_EQ(channelled->json()["pages"], 2);

    auto failure = [&](const Json& args) { return harness.send("flattenPdf", args)->error.value_or("(answered)"); };
    const Json encrypted = Json::array({ { { "bytes", base64Encode(filledFormPdf({ .userPassword = "secret" })) } } });
    EXPECT_NE(failure(encrypted).find("password-protected"), std::string::npos);
    const std::string notHere = std::string(ByteChannel::addressPrefix) + "0123456789abcdef0123456789abcdef";
    for (const Json& args : { Json::array(), Json::array({ "bytes" }), Json::array({ { { "bytes", 42 } } }),
             Json::array({ { { "bytes", "not base64!" } } }), Json::array({ { { "bytes", notHere } } }) })
        EXPECT_EQ(failure(args), "The PDF for the shareable copy didn't reach Quillpost.") << args.dump();
}

}
}
