#include "package/PackageReplacement.h"

#include "core/Exception.h"
#include "os/SystemError.h"
#include "package/SignalCleanup.h"
#include "util/strings/StringTable.h"

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

namespace {

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Writes all of `size` bytes, retrying short writes; false with errno on failure.
bool writeAll(int fd, const char* data, size_t size) {
    while (size) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

PackageReplacement::PackageReplacement(std::string packagePath) {
    // Replace the file a symbolic link points to, not the link.
    char resolved[PATH_MAX];
    target_ = ::realpath(packagePath.c_str(), resolved) ? std::string(resolved) : std::move(packagePath);
}

PackageReplacement::~PackageReplacement() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        SignalCleanup::forgetFile();
    }
}

void PackageReplacement::fail(int err) {
    std::string text = formatString("%s %s", {loadString(186), GetSystemErrorText(win32ErrorFromErrno(err))});
    throw Exception(std::move(text));
}

void PackageReplacement::createTemporary() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
        std::string name = folderOf(target_) + "/." + nameOf(target_) + suffix;
        // Watched before it exists, so a signal at any point cannot leave it behind.
        SignalCleanup::watchFile(name);
        int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            fd_ = fd;
            temporary_ = std::move(name);
            return;
        }
        int err = errno;
        SignalCleanup::forgetFile();
        if (err != EEXIST)
            fail(err);
    }
    fail(EEXIST);
}

void PackageReplacement::fillFrom(const std::string& archivePath) {
    // On the same file system the finished archive is simply moved beside the package.
    if (::rename(archivePath.c_str(), temporary_.c_str()) == 0) {
        ::close(fd_);
        fd_ = ::open(temporary_.c_str(), O_RDWR | O_CLOEXEC);
        if (fd_ < 0)
            fail(errno);
        return;
    }
    int in = ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        fail(errno);
    FdCloser closeIn{in};
    for (;;) {
        ssize_t n = ::copy_file_range(in, nullptr, fd_, nullptr, 1 << 30, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return;
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
            break;
        fail(errno);
    }
    // A file system without copy_file_range: plain reads and writes from where it stopped.
    std::unique_ptr<char[]> chunk(new char[1 << 20]);
    for (;;) {
        ssize_t n = ::read(in, chunk.get(), 1 << 20);
        if (n == 0)
            return;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (!writeAll(fd_, chunk.get(), static_cast<size_t>(n)))
            fail(errno);
    }
}

void PackageReplacement::commit() {
    struct stat old = {};
    if (::stat(target_.c_str(), &old) == 0) {
        // Keep the package's permissions; the owner only where the process may set it.
        if (::fchmod(fd_, old.st_mode & 07777) != 0)
            fail(errno);
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)!::fchown(fd_, old.st_uid, old.st_gid);
    }
    if (::fsync(fd_) != 0)
        fail(errno);
    if (::close(fd_) != 0) {
        fd_ = -1;
        fail(errno);
    }
    fd_ = -1;
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        fail(errno);
    temporary_.clear();
    SignalCleanup::forgetFile();
    // The rename itself is durable only once the folder is flushed.
    int dir = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void PackageReplacement::install(const std::string& archivePath) {
    // A copy over a read-only package is refused; a rename would go through, so the permission is
    // checked first: write permission for nobody (which stops root too), or none for this user.
    struct stat st = {};
    if (::stat(target_.c_str(), &st) == 0) {
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            fail(EACCES);
        if (::access(target_.c_str(), W_OK) != 0)
            fail(errno);
    }
    createTemporary();
    fillFrom(archivePath);
    commit();
}

} // namespace quendle
