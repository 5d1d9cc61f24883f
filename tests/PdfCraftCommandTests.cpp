#include "doubles/CommandHarness.h"

#include "common/Base64.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

TEST(PdfCraftCommandTest, OpensTheEditorWithTheDocumentThePageSent)
{
    CommandHarness harness;
    EXPECT_EQ(harness.send("hasPdfCraft")->json(), false);
    EXPECT_EQ(harness.send("openPdfCraft", { base64Encode("%PDF-1.7"), "a.pdf" })->json(), false);

    writeText(harness.path("pdfcraft-site/index.html"), "<html></html>");
    EXPECT_EQ(harness.send("hasPdfCraft")->json(), true);
    EXPECT_EQ(harness.send("openPdfCraft", { base64Encode("%PDF-1.7"), "a.pdf" })->json(), true);
    ASSERT_EQ(harness.pdfcraft().docs().size(), 1u);
    EXPECT_EQ(harness.pdfcraft().docs().begin()->second, "%PDF-1.7");

    // Text that isn't Base64, or none, opens the editor without a document.
    EXPECT_EQ(harness.send("openPdfCraft", { "not base64!", "b.pdf" })->json(), true);
    EXPECT_EQ(harness.send("openPdfCraft")->json(), true);
    EXPECT_EQ(harness.pdfcraft().docs().size(), 1u);
    EXPECT_EQ(harness.send("pdfcraftInfo")->json()["open"], 3);
}

}
}
