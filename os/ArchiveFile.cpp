#include "os/ArchiveFile.h"

#include "core/SystemError.h"
#include "os/FileSystem.h"

#include <cerrno>
#include <fcntl.h>

namespace quendle {

ArchiveFile::~ArchiveFile() = default;

uint32_t ArchiveFile::create(const std::string& path) {
    fd_.reset(hostpath::openFile(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644));
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

bool ArchiveFile::close() {
    return fd_.close();
}

} // namespace quendle
