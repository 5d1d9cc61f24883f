#include "app/AppScheme.h"

#include "common/Files.h"
#include "doubles/SchemeBody.h"
#include "doubles/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

namespace fs = std::filesystem;

TEST(AppSchemeTest, ServesOnlyThePagesOwnFilesUnderItsPolicy)
{
    TemporaryFolder folder { "quillpost-app-scheme" };
    auto page = folder / "app";
    writeText(page / "index.html", "<html>page</html>");
    writeText(page / "js" / "main.js", "export {}");
    writeText(folder / "data.json", "{\"clients\":[]}");
    fs::create_symlink(folder / "data.json", page / "js" / "data.js");
    AppScheme scheme([&] { return page; });

    for (const char* url : { "quillpost-app://app/", "quillpost-app://app/index.html#/clients", "QUILLPOST-APP://APP/index.html" }) {
        auto response = scheme.answer({ url, "GET", {} });
        EXPECT_EQ(response.status, 200) << url;
        EXPECT_EQ(response.headers["Content-Security-Policy"], AppScheme::contentSecurityPolicy) << url;
        EXPECT_EQ(bodyOf(response), "<html>page</html>") << url;
    }
    EXPECT_EQ(scheme.answer({ "quillpost-app://app/js/main.js", "GET", {} }).contentType, "text/javascript");

    // Nothing outside the page's folder, from another host, or by another method.
    for (const char* url : { "quillpost-app://app/../data.json", "quillpost-app://app/%2e%2e/data.json", "quillpost-app://app/js/data.js",
             "quillpost-app://app.evil/index.html", "quillpost-app://other/index.html" }) {
        auto response = scheme.answer({ url, "GET", {} });
        EXPECT_EQ(response.status, 404) << url;
        EXPECT_EQ(bodyOf(response).find("clients"), std::string::npos) << url;
    }
    EXPECT_EQ(scheme.answer({ "quillpost-app://app/index.html", "POST", "x" }).status, 404);

    // Without its page the window says so, in a page that runs no script.
    fs::remove(page / "index.html");
    auto missing = scheme.answer({ "quillpost-app://app/index.html", "GET", {} });
    EXPECT_EQ(missing.status, 200);
    EXPECT_NE(missing.body.find("can't find its screens"), std::string::npos);
    EXPECT_EQ(missing.headers["Content-Security-Policy"].find("script"), std::string::npos);
}

TEST(AppSchemeTest, TheShippedPageCarriesTheSamePolicyInItsHead)
{
    auto index = readFile(fs::path(QUILLPOST_SOURCE_DIR) / "resources" / "app" / "index.html");
    ASSERT_TRUE(index);
    // A meta policy can't name frame ancestors; everything else is the header's.
    std::string expected(AppScheme::contentSecurityPolicy);
    expected.erase(expected.find("; frame-ancestors"));
    EXPECT_NE(index->find("<meta http-equiv=\"Content-Security-Policy\" content=\"" + expected + "\">"), std::string::npos);
    EXPECT_EQ(index->find("<script>"), std::string::npos);
    EXPECT_EQ(index->find("unsafe-"), std::string::npos);
}

}
}
