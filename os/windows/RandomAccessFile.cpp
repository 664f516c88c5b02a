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

void RandomAccessFile::forgetBefore(uint64_t offset) const {
    // Windows takes no advice about a file's cached pages: the cache manager ages them out
    // itself, and the system file cache is trimmed under memory pressure.
    forgotten_ = offset;
}

} // namespace quendle
