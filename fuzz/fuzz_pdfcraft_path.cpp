// The editor scheme's containment: whatever address an editor page asks for, nothing outside the
// site root is ever served, and every answer is one of the forms the handler promises.
#include "FuzzCheck.h"

#include "pdfcraft/PdfCraftScheme.h"

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

void check(Fixture& fixture, const std::string& url)
{
    PdfCraftScheme scheme([&fixture] { return fixture.base / "site"; }, fixture.docs);
    auto answer = scheme.answer(url);
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

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Fixture fixture;
    const std::string input(reinterpret_cast<const char*>(data), size);
    check(fixture, input);
    check(fixture, "pdfcraft://app/" + input);
    return 0;
}
