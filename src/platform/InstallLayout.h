#pragma once

#include <filesystem>

namespace quillpost {

// Where the program's files are, found from its own executable: <prefix>/bin/quillpost and
// <prefix>/share/quillpost/, both when installed and when run from the build folder.
namespace InstallLayout {

// The folder holding bin/ and share/: what an update replaces.
std::filesystem::path prefix();
// <prefix>/share/quillpost
std::filesystem::path sharedFiles();
std::filesystem::path pageFolder();
// The editor as shipped with the program.
std::filesystem::path pdfcraftSite();

}

}
