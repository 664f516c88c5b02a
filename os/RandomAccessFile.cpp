#include "os/RandomAccessFile.h"

namespace quendle {

bool RandomAccessFile::readAt(uint64_t offset, void* buffer, size_t length) const {
    if (!fd_ || offset > size_ || length > size_ - offset)
        return false;
    auto* out = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        long n = fd_.readAt(out, length, offset);
        if (n <= 0)
            return false;
        out += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace quendle
