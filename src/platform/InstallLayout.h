#pragma once

#include <filesystem>

namespace quillpost {

// The program's shared files, found relative to its own executable: <prefix>/bin/quillpost and
// <prefix>/share/quillpost/, both when installed and when run from the build folder.
namespace Resources {

std::filesystem::path directory();
std::filesystem::path pageFolder();
// The editor as shipped with the program.
std::filesystem::path pdfcraftSite();

}

}
