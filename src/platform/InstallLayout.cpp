#include "app/Resources.h"

namespace quillpost::Resources {

std::filesystem::path directory()
{
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::filesystem::current_path(error) / "share" / "quillpost";
    return executable.parent_path().parent_path() / "share" / "quillpost";
}

std::filesystem::path pageFolder()
{
    return directory() / "app";
}

std::filesystem::path pdfcraftSite()
{
    return directory() / "pdfcraft";
}

}
