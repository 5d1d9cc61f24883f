#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

class BackgroundQueue;

// Which file a path names and in what state, to tell whether a file changed since it was read or written.
struct FileIdentity {
    std::uint64_t device { 0 };
    std::uint64_t inode { 0 };
    std::int64_t size { 0 };
    std::int64_t modifiedNanoseconds { 0 };
    bool operator==(const FileIdentity&) const = default;

    static std::optional<FileIdentity> of(const std::filesystem::path&);
};

// The data file's bytes and whether they hold a whole document. The identity is there only when
// the file was the same file, unchanged, before and after the read. `made` is what a read ahead
// made of bytes that are a whole document's text as they stand (no byte-order mark, well-formed
// UTF-8), and so the very text the store's load gives.
struct DataFileRead {
    std::optional<std::string> bytes;
    std::optional<FileIdentity> identity;
    bool whole { false };
    std::optional<std::string> made;

    static DataFileRead of(const std::filesystem::path&);
};

// A read of the data file begun on the background queue before the page asks for it: reading and
// checking tens of megabytes then overlaps the page's own start, and so does `make`, given the
// text as the page will get it. take() waits for a read under way; a read not yet begun is called
// off, and take() gives nothing so that the caller reads for itself.
class DataFileReadAhead {
public:
    using Make = std::function<std::string(std::string_view)>;
    static std::shared_ptr<DataFileReadAhead> start(BackgroundQueue&, std::filesystem::path, Make = {});
    std::optional<DataFileRead> take();

private:
    enum class State { Queued, Reading, Done, Taken };
    std::mutex m_mutex;
    std::condition_variable m_done;
    State m_state { State::Queued };
    std::optional<DataFileRead> m_read;
};

}
