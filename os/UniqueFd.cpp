#include "os/UniqueFd.h"

#include <cerrno>
#include <sys/types.h>
#include <unistd.h>

namespace quendle {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

bool UniqueFd::close() {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    return ::close(release()) == 0;
}

bool UniqueFd::writeAll(const void* data, size_t length) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    const auto* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = ::write(fd_, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool UniqueFd::readExact(void* buffer, size_t length) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    auto* p = static_cast<char*>(buffer);
    while (length > 0) {
        ssize_t n = ::read(fd_, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace quendle
