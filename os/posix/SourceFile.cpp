#include "os/SourceFile.h"
#include "os/posix/NativeHandle.h"
#include "os/posix/PosixFileSystem.h"

#include "os/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace quendle {

SourceFile::~SourceFile() = default;

bool SourceFile::open(const std::string& path) {
    NativeHandle::reset(fd_, hostpath::openFile(path, O_RDONLY));
    if (!fd_)
        return false;
    struct stat st {};
    if (::fstat(fdOf(fd_), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        // Say why, or the caller would report the errno of some earlier call.
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        fd_.reset();
        return false;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    modified_ = st.st_mtim.tv_sec;
    ::posix_fadvise(fdOf(fd_), 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

} // namespace quendle
