#include "common/Deflate.h"

#include <stdexcept>
#include <zlib.h>

namespace quillpost {

std::string deflated(std::string_view bytes)
{
    uLongf size = compressBound(bytes.size());
    std::string out(size, '\0');
    // The fastest level: on JSON it already keeps well under a tenth of the bytes.
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size(), Z_BEST_SPEED) != Z_OK)
        throw std::runtime_error("The bytes could not be compressed.");
    out.resize(size);
    return out;
}

}
