#include "os/RandomAccessFile.h"
#include "os/windows/NativeHandle.h"

namespace quendle {

bool RandomAccessFile::open(const std::string& path) {
    fd_ = FileHandle::openForReading(path);
    LARGE_INTEGER size{};
    if (!fd_ || !::GetFileSizeEx(handleOf(fd_), &size)) {
        fd_.reset();
        return false;
    }
    size_ = static_cast<uint64_t>(size.QuadPart);
    forgotten_ = 0;
    return true;
}

bool RandomAccessFile::readAt(uint64_t offset, void* buffer, size_t length) const {
    if (!fd_ || offset > size_ || length > size_ - offset)
        return false;
    // Only positional reads ever use this handle, so the file position they move means nothing.
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

void RandomAccessFile::forgetBefore(uint64_t offset) const {
    // Windows takes no advice about a file's cached pages: the cache manager ages them out
    // itself, and the system file cache is trimmed under memory pressure.
    forgotten_ = offset;
}

} // namespace quendle
