#include "os/ArchiveFile.h"

#include "os/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quendle {

ArchiveFile::~ArchiveFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

uint32_t ArchiveFile::create(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0)
        return win32ErrorFromErrno(errno);
    size_ = 0;
    return win32::Success;
}

bool ArchiveFile::append(const void* data, size_t length) {
    if (fd_ < 0)
        return false;
    const auto* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = ::write(fd_, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
        size_ += static_cast<uint64_t>(n);
    }
    return true;
}

bool ArchiveFile::close() {
    if (fd_ < 0)
        return false;
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

} // namespace quendle
