#include "archive/Crc32.h"

#ifdef QUENDLE_HAVE_ISAL
#include <isa-l/crc.h>
#else
#include <zlib.h>
#endif

namespace quendle {

uint32_t crc32Update(uint32_t crc, const void* data, size_t length) {
    auto bytes = static_cast<const uint8_t*>(data);
#ifdef QUENDLE_HAVE_ISAL
    return crc32_gzip_refl(crc, bytes, length);
#else
    // zlib's crc32 takes a 32-bit length.
    while (length > 0) {
        auto n = static_cast<uInt>(length > 0x40000000 ? 0x40000000 : length);
        crc = static_cast<uint32_t>(::crc32(crc, bytes, n));
        bytes += n;
        length -= n;
    }
    return crc;
#endif
}

} // namespace quendle
