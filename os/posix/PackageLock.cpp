#include "os/PackageLock.h"
#include "os/posix/NativeHandle.h"
#include "os/posix/PosixFileSystem.h"

#include "os/FileSystem.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

namespace quendle {

namespace {

constexpr auto PollInterval = std::chrono::milliseconds(50);

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::string PackageLock::describeHolder(const FileHandle& file) {
    const int fd = fdOf(file);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return "process id unknown";
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; waiters carry "->" and are skipped.
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, where;
        if (!(fields >> number >> kind) || kind == "->" || !(fields >> mode >> access >> pid >> where))
            continue;
        if (kind != "FLOCK" || where != device)
            continue;
        std::string name;
        std::ifstream comm("/proc/" + pid + "/comm");
        std::getline(comm, name);
        return "process " + pid + (name.empty() ? "" : " (" + name + ")");
    }
    return "process id unknown";
}

bool PackageLock::acquire(const std::string& path, int timeoutSeconds, const WaitNotice& onWait,
                          std::string& holder) {
    holder.clear();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool noticed = false;
    for (;;) {
        FileHandle fd = NativeHandle::adopt(hostpath::openFile(path, O_RDONLY | O_NONBLOCK));
        if (!fd)
            return false;
        while (::flock(fdOf(fd), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return false;
            if (std::chrono::steady_clock::now() >= deadline) {
                holder = describeHolder(fd);
                return false;
            }
            if (!noticed && onWait) {
                noticed = true;
                onWait(describeHolder(fd));
            }
            std::this_thread::sleep_for(PollInterval);
        }
        // Locked; but if the other run has put a new package in place meanwhile, that is the
        // one to work on.
        struct stat locked {
        }, current{};
        if (::fstat(fdOf(fd), &locked) == 0 && ::stat(path.c_str(), &current) == 0 &&
            !sameFile(locked, current))
            continue;
        fd_ = std::move(fd);
        return true;
    }
}

FileHandle PackageLock::unlockAndTake() {
    if (fd_)
        (void)::flock(fdOf(fd_), LOCK_UN);
    return std::move(fd_);
}

} // namespace quendle
