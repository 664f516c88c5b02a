#include "os/AtomicFileReplacement.h"
#include "os/posix/NativeHandle.h"

#include "os/FileSystem.h"
#include "os/SignalCleanup.h"
#include "os/StaleLeftovers.h"
#include "os/SystemError.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quendle {

AtomicFileReplacement::AtomicFileReplacement(std::string targetPath, std::string failureText)
    : failureText_(std::move(failureText)) {
    // Replace the file a symbolic link points to, not the link.
    char resolved[PATH_MAX];
    // Absolute either way, so that the temporary's folder is never empty.
    target_ =
        ::realpath(targetPath.c_str(), resolved) ? std::string(resolved) : hostpath::absolutePath(targetPath);
}

AtomicFileReplacement::~AtomicFileReplacement() {
    fd_.reset();
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        SignalCleanup::forgetFile();
    }
}

void AtomicFileReplacement::createTemporary() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
        std::string name = hostpath::folderOf(target_) + "/." + hostpath::fileNameOf(target_) + suffix;
        // Watched before it exists, so a signal at any point cannot leave it behind.
        SignalCleanup::watchFile(name);
        int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            NativeHandle::reset(fd_, fd);
            temporary_ = std::move(name);
            // Held until the rename, so a later run can tell a temporary of a killed run.
            if (!StaleLeftovers::lockTemporary(fd_))
                fail();
            return;
        }
        SystemError why = SystemError::last();
        SignalCleanup::forgetFile();
        if (why.kind() != SystemError::Kind::AlreadyExists)
            fail(why);
    }
    fail(SystemError::alreadyExists());
}

void AtomicFileReplacement::fillFrom(const std::string& sourcePath) {
    // On the same file system the finished file is simply moved beside the target.
    if (::rename(sourcePath.c_str(), temporary_.c_str()) == 0) {
        fd_.reset();
        NativeHandle::reset(fd_, ::open(temporary_.c_str(), O_RDWR | O_CLOEXEC));
        if (!fd_ || !StaleLeftovers::lockTemporary(fd_))
            fail();
        return;
    }
    FileHandle in = NativeHandle::adopt(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in)
        fail();
    for (;;) {
        ssize_t n = ::copy_file_range(fdOf(in), nullptr, fdOf(fd_), nullptr, 1 << 30, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return;
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
            break;
        fail();
    }
    // A file system without copy_file_range: plain reads and writes from where it stopped.
    std::unique_ptr<char[]> chunk(new char[1 << 20]);
    for (;;) {
        ssize_t n = ::read(fdOf(in), chunk.get(), 1 << 20);
        if (n == 0)
            return;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail();
        }
        if (!fd_.writeAll(chunk.get(), static_cast<size_t>(n)))
            fail();
    }
}

void AtomicFileReplacement::commit() {
    struct stat old = {};
    if (::stat(target_.c_str(), &old) == 0) {
        // Keep the target's permissions; the owner only where the process may set it.
        if (::fchmod(fdOf(fd_), old.st_mode & 07777) != 0)
            fail();
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)!::fchown(fdOf(fd_), old.st_uid, old.st_gid);
    }
    if (::fsync(fdOf(fd_)) != 0)
        fail();
    if (!fd_.close())
        fail();
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        fail();
    temporary_.clear();
    SignalCleanup::forgetFile();
    // The rename itself is durable only once the folder is flushed.
    FileHandle folder =
        NativeHandle::adopt(::open(hostpath::folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        ::fsync(fdOf(folder));
}

void AtomicFileReplacement::checkWritable() {
    // A copy over a read-only target is refused; a rename would go through, so the permission is
    // checked first: write permission for nobody (which stops root too), or none for this user.
    struct stat st = {};
    if (::stat(target_.c_str(), &st) == 0) {
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            errno = EACCES;
            fail();
        }
        if (::access(target_.c_str(), W_OK) != 0)
            fail();
    }
}

} // namespace quendle
