#include "os/ArchiveFile.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include "os/FileSystem.h"

#include <algorithm>

namespace quendle {

ArchiveFile::~ArchiveFile() = default;

bool ArchiveFile::create(const std::string& path) {
    // Sequential: the cache manager reads ahead and drops the pages behind the writer sooner.
    NativeHandle::reset(fd_, hostpath::openFile(path, GENERIC_WRITE, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!fd_)
        return false;
    size_ = 0;
    writebackStarted_ = 0;
    return true;
}

bool ArchiveFile::append(const void* data, size_t length) {
    if (!fd_.writeAll(data, length))
        return false;
    // Windows has no call that only starts the writeback (FlushFileBuffers waits for it): the
    // lazy writer flushes behind us, and the final flush before the replace does the rest.
    size_ += length;
    writebackStarted_ = size_;
    return true;
}

bool ArchiveFile::truncateTo(uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (size > size_ || !::SetFilePointerEx(handleOf(fd_), at, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(handleOf(fd_)))
        return false;
    size_ = size;
    writebackStarted_ = std::min(writebackStarted_, size);
    return true;
}

bool ArchiveFile::close() {
    return fd_.close();
}

} // namespace quendle
