#include "os/RandomAccessFile.h"
#include "os/posix/NativeHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quendle {

bool RandomAccessFile::open(const std::string& path) {
    fd_ = FileHandle::openForReading(path);
    struct stat st {};
    if (!fd_ || ::fstat(fdOf(fd_), &st) != 0) {
        fd_.reset();
        return false;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    forgotten_ = 0;
    return true;
}

bool RandomAccessFile::readAt(uint64_t offset, void* buffer, size_t length) const {
    if (!fd_ || offset > size_ || length > size_ - offset)
        return false;
    auto* out = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        ssize_t n = ::pread(fdOf(fd_), out, length, static_cast<off_t>(offset));
        if (n <= 0)
            return false;
        out += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

void RandomAccessFile::forgetBefore(uint64_t offset) const {
    constexpr uint64_t Step = 8 << 20;
    if (!fd_ || offset < forgotten_ + Step)
        return;
    // Only advice: a failure changes nothing but the timing.
    (void)::posix_fadvise(fdOf(fd_), static_cast<off_t>(forgotten_), static_cast<off_t>(offset - forgotten_),
                          POSIX_FADV_DONTNEED);
    forgotten_ = offset;
}

} // namespace quendle
