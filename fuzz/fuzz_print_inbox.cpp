// The print inbox's boundaries: job names that any printing program chooses, paths the page sends
// back, and the bytes a handover PDF is made from.
#include "FuzzCheck.h"

#include "bridge/PdfLock.h"
#include "common/Utf8.h"
#include "doubles/FakeProcessRunner.h"
#include "doubles/VirtualClock.h"
#include "printinbox/PrintInbox.h"
#include "store/Store.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace quillpost;
namespace fs = std::filesystem;

namespace {

// One inbox for the whole run, with neighbours a path might try to reach.
struct Fixture {
    Fixture()
    {
        char pattern[] = "/tmp/quillpost-fuzz-inbox-XXXXXX";
        root = ::mkdtemp(pattern);
        fs::create_directories(root / "data" / "Print Inbox" / ".spool");
        fs::create_directories(root / "data" / "Print Inbox2");
        std::ofstream(root / "data" / "Print Inbox" / "a.pdf") << "%PDF-1.4";
        std::ofstream(root / "data" / "Print Inbox" / ".spool" / "1-job.pdf") << "%PDF-1.4";
        std::ofstream(root / "data" / "Print Inbox2" / "b.pdf") << "%PDF-1.4";
        std::ofstream(root / "data" / "config.json") << "{}";
        fs::create_symlink(root / "data" / "config.json", root / "data" / "Print Inbox" / "out.pdf");
        store = std::make_unique<Store>(Store::Location { root / "data", true, root / "home", root / "documents" }, Store::Services { clock, clock, clock });
        inbox = std::make_unique<PrintInbox>(PrintInbox::Services { *store, runner, clock, clock });
        folder = fs::canonical(inbox->inboxFolder());
    }

    fs::path root;
    VirtualClock clock;
    FakeProcessRunner runner { clock };
    std::unique_ptr<Store> store;
    std::unique_ptr<PrintInbox> inbox;
    fs::path folder;
};

void checkFileName(const std::string& name)
{
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(validUtf8(name) == name);
    FUZZ_CHECK(!name.starts_with("."));
    for (unsigned char c : name)
        FUZZ_CHECK(c >= 0x20 && c != '/' && c != '\\');
    FUZZ_CHECK(name.ends_with(".pdf"));
}

void checkInside(Fixture& fixture, const std::string& path)
{
    auto file = fixture.inbox->inside(path);
    if (!file)
        return;
    FUZZ_CHECK(file->parent_path() == fixture.folder);
    FUZZ_CHECK(fs::is_regular_file(fs::symlink_status(*file)));
    FUZZ_CHECK(file->filename() != ".spool");
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Fixture fixture;
    const std::string text(reinterpret_cast<const char*>(data), size);

    // A job name as the server writes it, and the inbox file name made of it.
    auto title = InboxNames::jobTitle(text);
    FUZZ_CHECK(!title.empty());
    checkFileName(InboxNames::safeFile(title + " (printed 2024-05-01 13.45).pdf"));

    checkInside(fixture, text);
    checkInside(fixture, (fixture.root / "data" / "Print Inbox").string() + "/" + text);

    // Only bytes that look like a PDF are worth the lock's key derivation.
    if (text.starts_with("%PDF")) {
        auto locked = PdfLock::protect(text, "fuzzing-pass");
        if (auto* bytes = std::get_if<std::string>(&locked)) {
            FUZZ_CHECK(PdfLock::opens(*bytes, "fuzzing-pass"));
            FUZZ_CHECK(!PdfLock::opens(*bytes, ""));
        }
    }
    return 0;
}
