// The data file as found on disk: the open check that guards every save (held to the full parse it
// replaced), and loading data.json or, when that is no document, data.json.bak, as text and deflated.
#include "FuzzCheck.h"

#include "common/Deflate.h"
#include "common/Utf8.h"
#include "doubles/FormerDocumentCheck.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/DocumentCheck.h"
#include "store/Store.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <zlib.h>

using namespace quillpost;

namespace {

// What the page receives is either "null" or JSON text of a document, always valid UTF-8.
void checkLoaded(const std::string& text)
{
    if (text == "null")
        return;
    FUZZ_CHECK(validUtf8(text) == text);
    const auto start = text.find_first_not_of(" \t\r\n");
    FUZZ_CHECK(start != std::string::npos);
    FUZZ_CHECK(text[start] == '{' || text[start] == '[');
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TemporaryFolder folder("quillpost-fuzz-document");
    static VirtualClock clock;
    static Store store(Store::Location { folder.path(), false, {}, {} }, Store::Services { clock, clock, clock });

    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The single-pass check answers as the full parse it replaced, for every input.
    const DocumentCheck check = checkDocument(bytes);
    FUZZ_CHECK(check.opens == Store::openable(bytes));
    FUZZ_CHECK(check.opens == former::openable(bytes));
    FUZZ_CHECK(check.whole == former::holdsDocument(bytes));

    writeText(store.data(), bytes);
    const std::string loaded = store.load();
    checkLoaded(loaded);
    // Deflated, as loadText hands it to the page, in one piece or several, it inflates to the same text.
    const std::string packed = deflatedInPieces(loaded, 1 + loaded.size() % 4);
    std::string inflated(loaded.size() + 1, '\0');
    uLongf inflatedSize = inflated.size();
    FUZZ_CHECK(uncompress(reinterpret_cast<Bytef*>(inflated.data()), &inflatedSize, reinterpret_cast<const Bytef*>(packed.data()), packed.size()) == Z_OK);
    FUZZ_CHECK(inflated.substr(0, inflatedSize) == loaded);

    // The same bytes as the .bak copy behind a data file that is no document.
    writeText(store.data(), "{\"cut off");
    writeText(folder / "data.json.bak", bytes);
    const std::string fromBackup = store.load();
    checkLoaded(fromBackup);
    // Both files are read by the same rule.
    FUZZ_CHECK(fromBackup == loaded);

    std::filesystem::remove(folder / "data.json.bak");
    return 0;
}
