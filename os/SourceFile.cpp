#include "os/SourceFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quendle {

SourceFile::~SourceFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool SourceFile::open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size_ = static_cast<uint64_t>(st.st_size);
    modified_ = st.st_mtim.tv_sec;
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

bool SourceFile::readExact(void* buffer, size_t length) {
    if (fd_ < 0)
        return false;
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
