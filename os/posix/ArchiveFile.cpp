#include "os/ArchiveFile.h"
#include "os/posix/NativeHandle.h"
#include "os/posix/PosixFileSystem.h"

#include "os/FileSystem.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace quendle {

struct ArchiveFile::Flusher {}; // sync_file_range does its work

ArchiveFile::ArchiveFile() = default;
ArchiveFile::~ArchiveFile() = default;

bool ArchiveFile::create(const std::string& path) {
    NativeHandle::reset(fd_, hostpath::openFile(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644));
    if (!fd_)
        return false;
    size_ = 0;
    writebackStarted_ = 0;
    return true;
}

namespace {

// Written data is handed to the disk in pieces of this size while the archive grows, so that the
// flush before the package is replaced has little left to wait for.
constexpr uint64_t WritebackPiece = 8 << 20;

} // namespace

bool ArchiveFile::append(const void* data, size_t length) {
    if (!fd_.writeAll(data, length))
        return false;
    size_ += length;
    if (size_ - writebackStarted_ >= WritebackPiece) {
        // Only starts the writeback; a file system without it simply flushes everything later.
        (void)::sync_file_range(fdOf(fd_), static_cast<off_t>(writebackStarted_),
                                static_cast<off_t>(size_ - writebackStarted_), SYNC_FILE_RANGE_WRITE);
        writebackStarted_ = size_;
    }
    return true;
}

bool ArchiveFile::truncateTo(uint64_t size) {
    if (size > size_ || ::ftruncate(fdOf(fd_), static_cast<off_t>(size)) != 0 ||
        ::lseek(fdOf(fd_), static_cast<off_t>(size), SEEK_SET) < 0)
        return false;
    size_ = size;
    writebackStarted_ = std::min(writebackStarted_, size);
    return true;
}

bool ArchiveFile::close() {
    return fd_.close();
}

} // namespace quendle
