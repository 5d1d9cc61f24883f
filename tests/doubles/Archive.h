#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <string>
#include <vector>

namespace quillpost {

// An entry of an archive made in memory: a file, unless it names a link target. Names are taken
// as given, ".." and all, so a test can make exactly the entries a hostile archive would hold.
struct ArchiveEntry {
    std::string name;
    std::string content;
    std::string symlink {};
    std::string hardlink {};
};

enum class ArchiveFormat { TarGz, Zip };

inline std::string archiveOf(const std::vector<ArchiveEntry>& entries, ArchiveFormat format = ArchiveFormat::TarGz)
{
    std::string bytes(1 << 20, '\0');
    size_t used = 0;
    auto* writer = archive_write_new();
    if (format == ArchiveFormat::Zip) {
        archive_write_set_format_zip(writer);
    } else {
        archive_write_add_filter_gzip(writer);
        archive_write_set_format_pax_restricted(writer);
    }
    archive_write_set_bytes_in_last_block(writer, 1);
    archive_write_open_memory(writer, bytes.data(), bytes.size(), &used);
    for (auto& item : entries) {
        auto* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.name.c_str());
        archive_entry_set_perm(entry, 0755);
        archive_entry_set_filetype(entry, item.symlink.empty() ? AE_IFREG : AE_IFLNK);
        if (!item.symlink.empty())
            archive_entry_set_symlink(entry, item.symlink.c_str());
        else if (!item.hardlink.empty())
            archive_entry_set_hardlink(entry, item.hardlink.c_str());
        else
            archive_entry_set_size(entry, static_cast<la_int64_t>(item.content.size()));
        archive_write_header(writer, entry);
        archive_write_data(writer, item.content.data(), item.content.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    bytes.resize(used);
    return bytes;
}

}
