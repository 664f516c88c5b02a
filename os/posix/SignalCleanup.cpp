#include "os/SignalCleanup.h"

#include "os/FileSystem.h"
#include "os/posix/FolderTree.h"
#include "os/posix/NativeHandle.h"
#include "os/posix/PosixFileSystem.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

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

WatchedPath watchedFile;

// The watched workspace, by descriptors, so that the handler resolves no path.
struct WatchedFolder {
    int parentFd = -1;
    int folderFd = -1;
    char name[256] = {};
    char keepLast[256] = {};
    std::atomic<bool> set{false};
} watchedFolder;

void removeWatched() {
    int savedErrno = errno;
    if (watchedFile.set.load())
        unlink(watchedFile.path);
    if (watchedFolder.set.load()) {
        const char* keep = watchedFolder.keepLast[0] ? watchedFolder.keepLast : nullptr;
        foldertree::emptyFolder(watchedFolder.folderFd, keep);
        if (keep)
            unlinkat(watchedFolder.folderFd, keep, 0);
        // Fails harmlessly when the name no longer is our (now empty) folder.
        unlinkat(watchedFolder.parentFd, watchedFolder.name, AT_REMOVEDIR);
    }
    errno = savedErrno;
}

// Every signal whose default action ends the process and that a handler may catch; the hardware
// faults have their own handler, SIGXFSZ is ignored.
std::vector<int> makeTerminatingSignals();

// The signals that end the run after the clean-up.
const std::vector<int>& terminatingSignals() {
    static const std::vector<int> signals = makeTerminatingSignals();
    return signals;
}

std::vector<int> makeTerminatingSignals() {
    std::vector<int> signals{SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGUSR1, SIGUSR2, SIGALRM,
                             SIGPIPE, SIGXCPU, SIGPROF, SIGVTALRM, SIGIO,   SIGPWR,  SIGSTKFLT};
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        signals.push_back(sig);
    return signals;
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
        // A file-size limit must end in a clear message, not in a killed run.
        signal(SIGXFSZ, SIG_IGN);
        for (int sig : terminatingSignals()) {
            struct sigaction previous = {};
            // A signal the parent chose to ignore (nohup, background jobs) stays ignored.
            if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
                continue;
            struct sigaction action = {};
            action.sa_handler = onTerminatingSignal;
            sigemptyset(&action.sa_mask);
            for (int other : terminatingSignals())
                sigaddset(&action.sa_mask, other);
            sigaction(sig, &action, nullptr);
        }
        return true;
    }();
    (void)installed;
}

void SignalCleanup::watchFolder(const FileHandle& parent, const std::string& name, const FileHandle& folder,
                                const char* keepLast) {
    watchedFolder.set.store(false);
    std::string keep = keepLast ? keepLast : "";
    if (name.size() >= sizeof watchedFolder.name || keep.size() >= sizeof watchedFolder.keepLast)
        return;
    std::memcpy(watchedFolder.name, name.c_str(), name.size() + 1);
    std::memcpy(watchedFolder.keepLast, keep.c_str(), keep.size() + 1);
    watchedFolder.parentFd = fdOf(parent);
    watchedFolder.folderFd = fdOf(folder);
    watchedFolder.set.store(true);
}
void SignalCleanup::ignoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
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
    std::string folder = hostpath::folderOf(path);
    int parent = hostpath::openFile(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
    if (parent < 0)
        return;
    foldertree::removeAt(parent, hostpath::fileNameOf(path).c_str());
    close(parent);
}

} // namespace quendle
