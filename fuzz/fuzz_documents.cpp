// The boundaries of client documents: the name cleaners and the containment check.
// The first byte picks the target; the rest is the input.

#include "common/Utf8.h"
#include "store/Containment.h"
#include "store/Store.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;
using quillpost::Store;

namespace {

[[noreturn]] void fail(const char* what, std::string_view input)
{
    std::fprintf(stderr, "invariant broken: %s (input %zu bytes)\n", what, input.size());
    std::abort();
}

size_t codePoints(std::string_view text)
{
    size_t count = 0;
    for (unsigned char byte : text)
        count += (byte & 0xC0) != 0x80;
    return count;
}

void checkName(const std::string& name, std::string_view input, size_t maxBytes)
{
    if (name.empty() || name == "." || name == "..")
        fail("empty or dot name", input);
    if (name.front() == '.')
        fail("hidden name", input);
    if (name.size() > maxBytes)
        fail("name too long", input);
    if (quillpost::validUtf8(name) != name)
        fail("name is not UTF-8", input);
    for (unsigned char byte : name) {
        if (byte < 0x20 || byte == 0x7F || byte == '/' || byte == '\\' || byte == ':' || byte == '*' || byte == '?' || byte == '"' || byte == '<' || byte == '>' || byte == '|')
            fail("unsafe character in name", input);
    }
}

// A documents root with folders, a link inside it, links leading out, and a sibling that shares
// the root's name as a prefix.
struct Tree {
    fs::path base;
    fs::path root;
    fs::path realRoot;

    Tree()
    {
        char pattern[] = "/tmp/fuzz-documents-XXXXXX";
        base = ::mkdtemp(pattern);
        root = base / "Clients";
        fs::create_directories(root / "Ana" / "Forms");
        fs::create_directories(base / "Clients2");
        fs::create_directories(base / "outside");
        std::ofstream(root / "Ana" / "Forms" / "a.pdf") << "a";
        std::ofstream(base / "outside" / "secret") << "s";
        fs::create_symlink(base / "outside", root / "out");
        fs::create_symlink("../../outside/secret", root / "Ana" / "s.pdf");
        fs::create_symlink(root / "Ana" / "Forms", root / "forms");
        fs::create_symlink("..", root / "Ana" / "up");
        fs::create_symlink("loop", root / "loop");
        realRoot = fs::canonical(root);
    }
};

const Tree& tree()
{
    static const Tree tree;
    return tree;
}

bool strictlyBelow(const fs::path& path, const fs::path& root)
{
    auto [rootEnd, pathAt] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return rootEnd == root.end() && pathAt != path.end();
}

void checkInside(std::string_view input)
{
    const Tree& t = tree();
    const std::string text(input);
    const fs::path path = !text.empty() && text.front() == '/' ? fs::path(text) : t.root / text;
    const auto resolved = quillpost::resolveInside(t.root, path);
    if (!resolved)
        return;
    if (path.native().find('\0') != std::string::npos)
        fail("a path holding a NUL was accepted", input);
    if (!strictlyBelow(*resolved, t.realRoot))
        fail("the resolved path is not below the root", input);
    for (const auto& part : *resolved) {
        if (part == "..")
            fail("the resolved path still climbs", input);
    }
    // Where the path exists, the kernel's own resolution must agree.
    std::error_code error;
    if (!fs::exists(path, error))
        return;
    const fs::path actual = fs::canonical(path, error);
    if (error)
        return;
    if (!strictlyBelow(actual, t.realRoot))
        fail("the file system puts an accepted path outside the root", input);
    if (actual != *resolved)
        fail("the resolved path is not the real one", input);
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (!size)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
    case 0: {
        const std::string name = Store::safeName(input);
        checkName(name, input, 200);
        if (codePoints(name) > 80)
            fail("name longer than 80 characters", input);
        // A second client of that name gets a folder of its own: numbered, and already safe.
        for (int number : { 2, 10, 1000000 }) {
            const std::string numbered = Store::numberedName(name, number);
            if (Store::safeName(numbered) != numbered)
                fail("a numbered folder name is not its own safe name", input);
            if (!numbered.ends_with(" (" + std::to_string(number) + ")"))
                fail("a numbered folder name lost its number", input);
        }
        break;
    }
    case 1:
        // Base of at most 200 bytes, a dot and an extension of at most six.
        checkName(Store::safeFile(input), input, 207);
        break;
    default:
        checkInside(input);
        break;
    }
    return 0;
}
