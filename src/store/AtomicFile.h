#pragma once

#include "common/Error.h"

#include <filesystem>
#include <string_view>
#include <system_error>

namespace quillpost {

// Writes all of bytes to descriptor, retrying short and interrupted writes; the error of a failed one.
std::error_code writeAll(int descriptor, std::string_view bytes);

// A file written and synced beside its destination, ready to take the destination's place in one
// rename: a reader, or the program after a crash, sees the old file whole or the new one whole.
// Until commit() the destination is untouched; a PendingFile that is never committed removes its
// temporary file.
class PendingFile {
public:
    static PendingFile write(const std::filesystem::path& destination, std::string_view bytes); // throws FileError

    PendingFile(PendingFile&&) noexcept;
    PendingFile& operator=(PendingFile&&) = delete;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    // Renames the temporary file over the destination and syncs the folder. Throws FileError, or
    // FolderSyncError once the destination has been replaced.
    void commit();

private:
    PendingFile(std::filesystem::path destination, std::filesystem::path temporary);

    std::filesystem::path m_destination;
    std::filesystem::path m_temporary;
};

// Makes destination a second name of source's current content in one step, without copying bytes
// or needing free space: a hard link under a temporary name, renamed over destination. Where the
// file system has no hard links it copies through a PendingFile instead. Throws FileError.
void replaceWithLink(const std::filesystem::path& source, const std::filesystem::path& destination);

// A new name for source's content that never replaces anything. Throws FileError.
void linkOrCopy(const std::filesystem::path& source, const std::filesystem::path& destination);

// The folder's sync failed after a rename or a link had already changed it: the files hold their
// new content, which a power cut or a removed disk may still undo.
class FolderSyncError : public FileError {
public:
    using FileError::FileError;
};

// The rename is only durable once the folder is. Throws FolderSyncError.
void syncFolder(const std::filesystem::path& folder);

// Stands in for fsync on folders, so that a test can play a disk that fails late; nullptr puts
// fsync back.
void setFolderSyncForTesting(int (*sync)(int descriptor));

// Temporary files that a write cut short by a crash or a power cut left in the folder.
void removeStaleTemporaryFiles(const std::filesystem::path& folder);

}
