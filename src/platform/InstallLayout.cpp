#include "platform/InstallLayout.h"

namespace quillpost::InstallLayout {

std::filesystem::path prefix()
{
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::filesystem::current_path(error);
    return executable.parent_path().parent_path();
}

std::filesystem::path sharedFiles()
{
    return prefix() / "share" / "quillpost";
}

std::filesystem::path pageFolder()
{
    return sharedFiles() / "app";
}

std::filesystem::path pdfcraftSite()
{
    return sharedFiles() / "pdfcraft";
}

}
