#include "os/SignalCleanup.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quendle {

namespace {

// Written by the main thread, read by the handler. The flag is cleared before a path changes
// and set after, so the handler never sees a half-written path.
struct WatchedPath {
    char path[PATH_MAX] = {};
    std::atomic<bool> set{false};

    void assign(const std::string& p) {
        set.store(false);
        if (p.empty() || p.size() >= sizeof path)
            return;
        std::memcpy(path, p.c_str(), p.size() + 1);
        set.store(true);
    }
};

WatchedPath watchedFolder;
WatchedPath watchedFile;

struct LinuxDirent64 {
    unsigned long long d_ino;
    long long d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Empties the folder open as `dirFd`. Uses getdents64 and *at calls only: no allocation, no
// locks, so it may run inside a signal handler. Deleting while reading can skip entries, so
// passes repeat until one removes nothing.
void emptyFolder(int dirFd, int depth) {
    if (depth > 256)
        return;
    alignas(8) char buffer[8192];
    for (int pass = 0; pass < 64; ++pass) {
        bool removedAny = false;
        if (lseek(dirFd, 0, SEEK_SET) < 0)
            return;
        for (;;) {
            long n = syscall(SYS_getdents64, dirFd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (long off = 0; off < n;) {
                auto* d = reinterpret_cast<LinuxDirent64*>(buffer + off);
                off += d->d_reclen;
                if (isDotOrDotDot(d->d_name))
                    continue;
                if (unlinkat(dirFd, d->d_name, 0) == 0) {
                    removedAny = true;
                    continue;
                }
                int sub = openat(dirFd, d->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub < 0)
                    continue;
                emptyFolder(sub, depth + 1);
                close(sub);
                if (unlinkat(dirFd, d->d_name, AT_REMOVEDIR) == 0)
                    removedAny = true;
            }
        }
        if (!removedAny)
            return;
    }
}

void removeTreeRaw(const char* path) {
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    emptyFolder(fd, 0);
    close(fd);
    rmdir(path);
}

constexpr int watchedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void removeWatched() {
    int savedErrno = errno;
    if (watchedFile.set.load())
        unlink(watchedFile.path);
    if (watchedFolder.set.load())
        removeTreeRaw(watchedFolder.path);
    errno = savedErrno;
}

extern "C" void onTerminatingSignal(int sig) {
    removeWatched();
    // End the process the way the signal would have, so the caller sees the usual status.
    signal(sig, SIG_DFL);
    raise(sig);
}

} // namespace

void SignalCleanup::install() {
    static const bool installed = [] {
        for (int sig : watchedSignals) {
            struct sigaction previous = {};
            // A signal the parent chose to ignore (nohup, background jobs) stays ignored.
            if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
                continue;
            struct sigaction action = {};
            action.sa_handler = onTerminatingSignal;
            sigemptyset(&action.sa_mask);
            for (int other : watchedSignals)
                sigaddset(&action.sa_mask, other);
            sigaction(sig, &action, nullptr);
        }
        return true;
    }();
    (void)installed;
}

void SignalCleanup::watchFolder(const std::string& path) {
    watchedFolder.assign(path);
}
void SignalCleanup::forgetFolder() {
    watchedFolder.set.store(false);
}
void SignalCleanup::watchFile(const std::string& path) {
    watchedFile.assign(path);
}
void SignalCleanup::forgetFile() {
    watchedFile.set.store(false);
}

void SignalCleanup::cleanUpNow() noexcept {
    removeWatched();
}

void SignalCleanup::removeTree(const std::string& path) {
    removeTreeRaw(path.c_str());
}

} // namespace quendle
