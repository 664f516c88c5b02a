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
