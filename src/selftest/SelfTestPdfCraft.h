#pragma once

#include "common/Json.h"

#include <filesystem>
#include <functional>

namespace quillpost {

class MainQueue;
class PdfCraft;

// The self-test's checks of the PDF editor host: a blank document opens in a working, offline
// editor window that asks before closing with unsaved changes; with updateChecks, the editor is
// also updated from its release server, started and rolled back.
struct SelfTestPdfCraft {
    PdfCraft& pdfcraft;
    MainQueue& mainQueue;
    // Where pdfcraft.png goes.
    std::filesystem::path folder;
    bool updateChecks { false };

    // One US Letter page with nothing on it.
    static const std::string& blankPdf();
    static constexpr const char* documentName = "Self test.pdf";

    void run(std::function<void(Json)> completion) const;
};

}
