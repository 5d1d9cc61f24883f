#include "store/DataFileRead.h"

#include "common/Files.h"
#include "common/Utf8.h"
#include "platform/BackgroundQueue.h"
#include "store/DocumentCheck.h"

#include <sys/stat.h>

namespace quillpost {

std::optional<FileIdentity> FileIdentity::of(const std::filesystem::path& path)
{
    struct stat information {};
    if (::stat(path.c_str(), &information))
        return std::nullopt;
    return FileIdentity {
        static_cast<std::uint64_t>(information.st_dev),
        static_cast<std::uint64_t>(information.st_ino),
        static_cast<std::int64_t>(information.st_size),
        static_cast<std::int64_t>(information.st_mtim.tv_sec) * 1'000'000'000 + information.st_mtim.tv_nsec,
    };
}

DataFileRead DataFileRead::of(const std::filesystem::path& path)
{
    DataFileRead read;
    const auto before = FileIdentity::of(path);
    read.bytes = readFile(path);
    if (!read.bytes)
        return read;
    read.whole = checkDocument(*read.bytes).whole;
    if (before && before == FileIdentity::of(path))
        read.identity = before;
    return read;
}

std::shared_ptr<DataFileReadAhead> DataFileReadAhead::start(BackgroundQueue& queue, std::filesystem::path path, Make make)
{
    auto ahead = std::make_shared<DataFileReadAhead>();
    queue.async([ahead, path = std::move(path), make = std::move(make)] {
        {
            std::lock_guard lock(ahead->m_mutex);
            if (ahead->m_state != State::Queued)
                return;
            ahead->m_state = State::Reading;
        }
        auto read = DataFileRead::of(path);
        if (make && read.whole && !read.bytes->starts_with("\xEF\xBB\xBF") && isValidUtf8(*read.bytes)) {
            try {
                read.made = make(*read.bytes);
            } catch (const std::exception&) {
                // Made again when it is asked for.
            }
        }
        std::lock_guard lock(ahead->m_mutex);
        ahead->m_read = std::move(read);
        ahead->m_state = State::Done;
        ahead->m_done.notify_all();
    });
    return ahead;
}

std::optional<DataFileRead> DataFileReadAhead::take()
{
    std::unique_lock lock(m_mutex);
    if (m_state == State::Queued || m_state == State::Taken) {
        m_state = State::Taken;
        return std::nullopt;
    }
    m_done.wait(lock, [this] { return m_state == State::Done; });
    m_state = State::Taken;
    return std::exchange(m_read, std::nullopt);
}

}
