// The containment of the program's own schemes: whatever address an editor page or the main page
// asks for, nothing outside the site root is ever served, every answer is one of the forms the
// handler promises, and the main page's origin test agrees with GLib's URI parser.
#include "FuzzCheck.h"

#include "app/AppScheme.h"
#include "pdfcraft/PdfCraftScheme.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace quillpost;
namespace fs = std::filesystem;

namespace {

constexpr const char* token = "0123456789abcdef0123456789abcdef";

// One site for the whole run, with neighbours and links a path might try to reach.
struct Fixture {
    Fixture()
    {
        char pattern[] = "/tmp/quillpost-fuzz-pdfcraft-XXXXXX";
        base = ::mkdtemp(pattern);
        fs::create_directories(base / "site" / "lib" / "sub");
        fs::create_directories(base / "site2");
        std::ofstream(base / "site" / "index.html") << "<html></html>";
        std::ofstream(base / "site" / "lib" / "app.js") << "var a;";
        std::ofstream(base / "site" / "lib" / "app.wasm") << "asm";
        std::ofstream(base / "site2" / "neighbour.html") << "no";
        std::ofstream(base / "secret.txt") << "no";
        fs::create_symlink(base / "secret.txt", base / "site" / "out.txt");
        fs::create_symlink(base / "site2", base / "site" / "lib" / "away");
        fs::create_symlink(base / "site" / "lib" / "app.js", base / "site" / "in.js");
        root = fs::canonical(base / "site");
        docs[token] = "%PDF-1.7";
    }

    fs::path base;
    fs::path root;
    PdfCraftScheme::Registry docs;
};

void checkServed(Fixture& fixture, std::optional<SchemeResponse> answer)
{
    if (!answer)
        return;
    const auto length = answer->headers.at("Content-Length");
    FUZZ_CHECK(answer->headers.contains("Content-Security-Policy") == (answer->contentType == "text/html"));
    if (answer->status == 404) {
        FUZZ_CHECK(answer->contentType == "text/plain");
        FUZZ_CHECK(answer->body == "gone" || answer->body == "not found");
        FUZZ_CHECK(length == std::to_string(answer->body.size()));
        FUZZ_CHECK(!answer->bodyFile);
        return;
    }
    FUZZ_CHECK(answer->status == 200);
    if (answer->contentType == "application/pdf" && !answer->bodyFile) {
        FUZZ_CHECK(answer->body == "%PDF-1.7");
        return;
    }
    FUZZ_CHECK(answer->bodyFile);
    FUZZ_CHECK(length == std::to_string(answer->bodyFileLength));
    // The file actually opened, wherever the path led.
    std::error_code error;
    const fs::path opened = fs::read_symlink("/proc/self/fd/" + std::to_string(answer->bodyFile.get()), error);
    FUZZ_CHECK(!error);
    FUZZ_CHECK(opened.string().starts_with(fixture.root.string() + "/"));
    FUZZ_CHECK(fs::is_regular_file(opened));
}

void check(Fixture& fixture, const std::string& url)
{
    PdfCraftScheme editor([&fixture] { return fixture.base / "site"; }, fixture.docs);
    checkServed(fixture, editor.answer(url));
    AppScheme page([&fixture] { return fixture.base / "site"; });
    auto answer = page.answer({ url, "GET", {} });
    FUZZ_CHECK(answer.status == 200 || answer.status == 404);
    FUZZ_CHECK(answer.contentType != "application/pdf");
    checkServed(fixture, std::move(answer));
}

// A URL the main window may show must be of the page's origin by any parser's reading: scheme
// quillpost-app, host app, no port and no credentials.
void checkOrigin(const std::string& url)
{
    if (!AppScheme::isOwnDocument(url) || url.find('\0') != std::string::npos)
        return;
    std::string_view document(url);
    if (document.starts_with("blob:"))
        document.remove_prefix(5);
    g_autoptr(GUri) parsed = g_uri_parse(std::string(document).c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!parsed)
        return;
    FUZZ_CHECK(g_ascii_strcasecmp(g_uri_get_scheme(parsed), "quillpost-app") == 0);
    FUZZ_CHECK(g_uri_get_host(parsed) && g_ascii_strcasecmp(g_uri_get_host(parsed), "app") == 0);
    FUZZ_CHECK(g_uri_get_port(parsed) == -1);
    FUZZ_CHECK(!g_uri_get_userinfo(parsed));
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Fixture fixture;
    const std::string input(reinterpret_cast<const char*>(data), size);
    check(fixture, input);
    check(fixture, "pdfcraft://app/" + input);
    check(fixture, "quillpost-app://app/" + input);
    checkOrigin(input);
    checkOrigin("quillpost-app://app" + input);
    return 0;
}
