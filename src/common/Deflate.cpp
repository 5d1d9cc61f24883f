#include "common/Deflate.h"

#include <algorithm>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>
#include <zlib.h>

namespace quillpost {

namespace {

// Below this, one thread does the whole text sooner than several can start.
constexpr std::size_t smallestPiece = 1024 * 1024;

struct Piece {
    std::string deflated;
    uLong adler;
    std::size_t size;
};

// One piece as raw deflate blocks. Every piece but the last ends on a byte boundary with no final
// block (a sync flush), so that the pieces, put one after another, are one deflate stream.
Piece deflatePiece(std::string_view bytes, bool last)
{
    z_stream stream {};
    // The fastest level: on JSON it already keeps well under a tenth of the bytes.
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("The bytes could not be compressed.");
    // Out through a small buffer: room for the worst case would be as large as the text, and
    // setting aside that much fresh memory costs more than compressing it. In, at most a GiB at a
    // time, which zlib's counts hold.
    std::string out;
    out.reserve(bytes.size() / 8 + 64);
    char buffer[64 * 1024];
    std::string_view left = bytes;
    int result = Z_OK;
    do {
        const std::string_view chunk = left.substr(0, std::size_t { 1 } << 30);
        left.remove_prefix(chunk.size());
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
        stream.avail_in = static_cast<uInt>(chunk.size());
        const int flush = !left.empty() ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            result = deflate(&stream, flush);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (result != Z_STREAM_ERROR && stream.avail_out == 0);
    } while (result != Z_STREAM_ERROR && !left.empty());
    // A flush that exactly filled the buffer is told on the next call, as "no progress".
    const bool done = left.empty() && stream.avail_in == 0 && (last ? result == Z_STREAM_END : result == Z_OK || result == Z_BUF_ERROR);
    deflateEnd(&stream);
    if (!done)
        throw std::runtime_error("The bytes could not be compressed.");
    const uLong adler = adler32_z(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
    return { std::move(out), adler, bytes.size() };
}

}

std::string deflatedInPieces(std::string_view bytes, std::size_t pieces)
{
    pieces = std::clamp<std::size_t>(pieces, 1, std::max<std::size_t>(bytes.size(), 1));
    // Equal pieces; the last takes what the division leaves over. The first is made on this thread.
    const std::size_t length = bytes.size() / pieces;
    std::vector<std::future<Piece>> made;
    for (std::size_t index = 0; index < pieces; ++index) {
        const bool last = index + 1 == pieces;
        const auto piece = bytes.substr(index * length, last ? std::string_view::npos : length);
        made.push_back(std::async(index ? std::launch::async : std::launch::deferred, deflatePiece, piece, last));
    }

    // The zlib header for the fastest level, the pieces, and the Adler-32 of the whole text.
    std::string out = "\x78\x01";
    uLong adler = adler32(0, nullptr, 0);
    for (auto& next : made) {
        const Piece piece = next.get();
        adler = adler32_combine(adler, piece.adler, static_cast<z_off_t>(piece.size));
        out += piece.deflated;
    }
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((adler >> shift) & 0xFF));
    return out;
}

std::string deflated(std::string_view bytes)
{
    const std::size_t threads = std::max(1u, std::thread::hardware_concurrency());
    return deflatedInPieces(bytes, std::min(threads, std::max<std::size_t>(bytes.size() / smallestPiece, 1)));
}

}
