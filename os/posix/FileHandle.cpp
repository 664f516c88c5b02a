#include "os/FileHandle.h"
#include "os/posix/NativeHandle.h"
#include "os/posix/PosixFileSystem.h"

#include "os/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace quendle {

bool standardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void FileHandle::reset() {
    if (*this)
        ::close(NativeHandle::release(*this));
}

bool FileHandle::close() {
    if (!*this) {
        errno = EBADF;
        return false;
    }
    return ::close(NativeHandle::release(*this)) == 0;
}

FileHandle FileHandle::openForReading(const std::string& path) {
    // Through the file-system rules: below the workspace no link is ever followed.
    return NativeHandle::adopt(hostpath::openFile(path, O_RDONLY));
}

FileHandle FileHandle::openForReadingAnyKind(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        return FileHandle();
    // Opened without blocking, so that the open itself cannot stall; the flag is cleared below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) {
        // A named pipe: wait for its writer, or the first read would see an empty file.
        ::close(fd);
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    FileHandle file = NativeHandle::adopt(fd);
    if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))
        return FileHandle();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

std::pair<uint64_t, uint64_t> FileHandle::fileIdentity() const {
    struct stat st {};
    if (!*this || ::fstat(fdOf(*this), &st) != 0)
        return {0, 0};
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

FileHandle FileHandle::createNew(const std::string& path) {
    return NativeHandle::adopt(hostpath::openFile(path, O_WRONLY | O_CREAT | O_EXCL, 0644));
}

FileHandle FileHandle::createOrTruncate(const std::string& path) {
    return NativeHandle::adopt(hostpath::openFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
}

FileHandle FileHandle::openForAppending(const std::string& path) {
    return NativeHandle::adopt(hostpath::openFile(path, O_WRONLY | O_CREAT | O_APPEND, 0644));
}

long FileHandle::readSome(void* buffer, size_t length) {
    for (;;) {
        ssize_t n = ::read(fdOf(*this), buffer, length);
        if (n >= 0 || errno != EINTR)
            return static_cast<long>(n);
    }
}

long FileHandle::readAt(void* buffer, size_t length, uint64_t offset) const {
    return static_cast<long>(::pread(fdOf(*this), buffer, length, static_cast<off_t>(offset)));
}

bool FileHandle::regularFileSize(uint64_t& size) const {
    struct stat st {};
    if (::fstat(fdOf(*this), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = 0;
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool FileHandle::writeAll(const void* data, size_t length) {
    if (!*this) {
        errno = EBADF;
        return false;
    }
    const auto* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = ::write(fdOf(*this), p, length);
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

bool FileHandle::readExact(void* buffer, size_t length) {
    if (!*this) {
        errno = EBADF;
        return false;
    }
    auto* p = static_cast<char*>(buffer);
    while (length > 0) {
        ssize_t n = ::read(fdOf(*this), p, length);
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
