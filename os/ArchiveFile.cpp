#include "os/ArchiveFile.h"

#include "os/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quendle {

ArchiveFile::~ArchiveFile() = default;

uint32_t ArchiveFile::create(const std::string& path) {
    fd_.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd_)
        return win32ErrorFromErrno(errno);
    size_ = 0;
    return win32::Success;
}

bool ArchiveFile::append(const void* data, size_t length) {
    if (!fd_.writeAll(data, length))
        return false;
    size_ += length;
    return true;
}

bool ArchiveFile::truncateTo(uint64_t size) {
    if (size > size_ || ::ftruncate(fd_.get(), static_cast<off_t>(size)) != 0 ||
        ::lseek(fd_.get(), static_cast<off_t>(size), SEEK_SET) < 0)
        return false;
    size_ = size;
    return true;
}

bool ArchiveFile::close() {
    return fd_.close();
}

} // namespace quendle
