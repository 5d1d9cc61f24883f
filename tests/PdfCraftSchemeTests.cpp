#include "pdfcraft/PdfCraftScheme.h"

#include "doubles/SchemeBody.h"
#include "doubles/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

class PdfCraftSchemeTest : public testing::Test {
protected:
    PdfCraftSchemeTest()
    {
        writeText(m_folder / "secret.txt", "outside");
        writeText(site() / "index.html", "<html>editor</html>");
        writeText(site() / "lib" / "app.WASM", "\0asm");
        writeText(site() / "lib" / "app.js", "var a;");
        writeText(site() / "data.json", "{}");
        writeText(site() / "README", "read me");
        fs::create_directories(site() / "sub");
        fs::create_symlink(m_folder / "secret.txt", site() / "link-out.txt");
        fs::create_symlink(site() / "lib" / "app.js", site() / "alias.js");
    }

    fs::path site() const { return m_folder / "site"; }

    SchemeResponse get(const std::string& url)
    {
        auto answer = m_scheme.answer(url);
        EXPECT_TRUE(answer) << url;
        return answer ? std::move(*answer) : SchemeResponse {};
    }

    TemporaryFolder m_folder { "quillpost-pdfcraft-scheme" };
    PdfCraftScheme::Registry m_docs;
    PdfCraftScheme m_scheme { [this] { return site(); }, m_docs };
};

TEST_F(PdfCraftSchemeTest, ServesSiteFilesByTypeWithThePolicyOnHtmlOnly)
{
    for (const char* url : { "pdfcraft://app/", "pdfcraft://app", "pdfcraft://app/index.html?file=x#top", "pdfcraft://other//index.html" }) {
        auto response = get(url);
        EXPECT_EQ(response.status, 200) << url;
        EXPECT_EQ(response.contentType, "text/html") << url;
        EXPECT_EQ(response.headers["Content-Security-Policy"], PdfCraftScheme::contentSecurityPolicy) << url;
        EXPECT_EQ(response.headers["Content-Length"], "19") << url;
        EXPECT_EQ(response.bodyFileLength, 19u) << url;
        EXPECT_EQ(bodyOf(response), "<html>editor</html>") << url;
    }

    const std::pair<const char*, const char*> types[] = {
        { "pdfcraft://app/lib/app.WASM", "application/wasm" },
        { "pdfcraft://app/lib/app.js", "text/javascript" },
        { "pdfcraft://app/alias.js", "text/javascript" },
        { "pdfcraft://app/data.json", "application/octet-stream" },
        { "pdfcraft://app/README", "application/octet-stream" },
        { "pdfcraft://app/%6Cib/app.js", "text/javascript" },
    };
    for (auto [url, type] : types) {
        auto response = get(url);
        EXPECT_EQ(response.status, 200) << url;
        EXPECT_EQ(response.contentType, type) << url;
        EXPECT_FALSE(response.headers.contains("Content-Security-Policy")) << url;
        EXPECT_EQ(response.headers["Content-Length"], std::to_string(bodyOf(response).size())) << url;
    }
}

TEST_F(PdfCraftSchemeTest, AnswersNotFoundForFoldersMissingFilesAndAnythingOutsideTheRoot)
{
    for (const char* url : { "pdfcraft://app/sub/", "pdfcraft://app/missing.js", "pdfcraft://app/../secret.txt", "pdfcraft://app/%2E%2E/secret.txt",
             "pdfcraft://app/%252E%252E/secret.txt", "pdfcraft://app/lib%2F..%2F..%2Fsecret.txt", "pdfcraft://app/link-out.txt",
             "pdfcraft://app/lib/../../site/../secret.txt", "pdfcraft://app/%00index.html", "pdfcraft://app/doc/",
             // Not the document form, so looked up as site files.
             "pdfcraft://app/doc/0123456789ABCDEF0123456789abcdef/a.pdf", "pdfcraft://app/doc/0123456789abcdef0123456789abcde/a.pdf" }) {
        auto response = get(url);
        EXPECT_EQ(response.status, 404) << url;
        EXPECT_EQ(response.body, "not found") << url;
        EXPECT_FALSE(response.bodyFile) << url;
    }
}

TEST_F(PdfCraftSchemeTest, FollowsTheSiteThroughLinksInsideItAndAcrossAFolderReplacedInPlace)
{
    // Links that stay inside the site are served; ones that leave it are not, however reached.
    fs::create_directory_symlink(site() / "lib", site() / "shared");
    fs::create_directory_symlink(site().parent_path(), site() / "up");
    auto served = [this](const std::string& url) {
        auto response = get(url);
        return response.status == 200 ? bodyOf(response) : std::to_string(response.status);
    };
    EXPECT_EQ(served("pdfcraft://app/shared/app.js"), "var a;");
    EXPECT_EQ(get("pdfcraft://app/shared/app.WASM").contentType, "application/wasm");
    EXPECT_EQ(served("pdfcraft://app/up/secret.txt"), "404");
    EXPECT_EQ(served("pdfcraft://app/shared/../../secret.txt"), "404");

    // An install that puts a new folder where the site was is served from the new folder.
    EXPECT_EQ(served("pdfcraft://app/index.html"), "<html>editor</html>");
    fs::rename(site(), m_folder / "old-site");
    writeText(site() / "index.html", "<html>new</html>");
    EXPECT_EQ(served("pdfcraft://app/index.html"), "<html>new</html>");
    EXPECT_EQ(served("pdfcraft://app/lib/app.js"), "404");
    fs::remove_all(site());
    EXPECT_EQ(served("pdfcraft://app/index.html"), "404");
}

TEST_F(PdfCraftSchemeTest, ServesDocumentsByTokenWhateverTheirName)
{
    const std::string token = "0123456789abcdef0123456789abcdef";
    m_docs[token] = "%PDF-1.7 body";
    for (std::string name : { "a.pdf", "other%20name.pdf", "" }) {
        auto response = get("pdfcraft://app/doc/" + token + "/" + name);
        EXPECT_EQ(response.contentType, "application/pdf") << name;
        EXPECT_EQ(response.body, "%PDF-1.7 body") << name;
        EXPECT_EQ(response.headers["Content-Length"], "13") << name;
    }
    auto gone = get("pdfcraft://app/doc/ffffffffffffffffffffffffffffffff/a.pdf");
    EXPECT_EQ(gone.status, 404);
    EXPECT_EQ(gone.body, "gone");
}

TEST_F(PdfCraftSchemeTest, HandlerFailsARequestWithoutAUsableURL)
{
    auto handler = PdfCraftScheme::handler([this] { return site(); }, m_docs);
    for (auto [url, served] : { std::pair { "", false }, { "pdfcraft://app/index.html", true } }) {
        std::optional<int> status;
        std::string error;
        handler({ url, "GET", {} }, [&](std::optional<SchemeResponse> response, std::string message) {
            status = response ? std::optional(response->status) : std::nullopt;
            error = std::move(message);
        });
        EXPECT_EQ(status, served ? std::optional(200) : std::nullopt) << url;
        EXPECT_EQ(error.empty(), served) << url;
    }
}

}
}
