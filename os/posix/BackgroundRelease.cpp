#include "os/BackgroundRelease.h"
#include "os/posix/NativeHandle.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quendle {

void releaseInBackground(FileHandle fd, uint64_t minimumBytes) {
    struct stat st {};
    if (!fd || ::fstat(fdOf(fd), &st) != 0 || st.st_nlink != 0 ||
        static_cast<uint64_t>(st.st_blocks) * 512 < minimumBytes)
        return;
    // The child closes its handle only once this process has closed its own, so that the child's
    // is the last.
    int gate[2];
    if (::pipe2(gate, O_CLOEXEC) != 0)
        return;
    // Blocked before the fork, so that no handler of this run (cleanup on Ctrl+C) runs in the child.
    sigset_t all, before;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    pid_t child = ::fork();
    if (child == 0) {
        // Only calls that are safe after a fork of a threaded process. Nothing else of the run is
        // kept open: not its output (a caller reading it to the end would wait), not its locks.
        int low = std::min(fdOf(fd), gate[0]), high = std::max(fdOf(fd), gate[0]);
        if (low > 0)
            ::close_range(0, static_cast<unsigned>(low - 1), 0);
        if (high > low + 1)
            ::close_range(static_cast<unsigned>(low + 1), static_cast<unsigned>(high - 1), 0);
        ::close_range(static_cast<unsigned>(high + 1), ~0U, 0);
        char byte;
        while (::read(gate[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ::close(fdOf(fd));
        ::_exit(0);
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::close(gate[0]);
    fd.reset(); // the child's copy keeps the file, so this close is quick
    ::close(gate[1]);
}

} // namespace quendle
