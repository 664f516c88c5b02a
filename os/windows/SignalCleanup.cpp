#include "os/SignalCleanup.h"

#include "os/StaleLeftovers.h"
#include "os/windows/FolderTree.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include <mutex>
#include <string>
#include <windows.h>

namespace quendle {

namespace {

// Windows runs a console control handler on a thread of its own while the run goes on, so the
// watched things are guarded by a lock rather than by the rules of a signal handler.
std::mutex watchedLock;
std::wstring watchedFile;
std::wstring watchedFolder;   // empty when none
std::wstring watchedKeepLast; // removed after the rest; empty when none

// Removes the entry `name` of `folder` after moving it out beside the folder: the run holds it
// open, so deleted in place it would stay until the process ends and keep the folder from going.
void removeOutside(const std::wstring& folder, const std::wstring& name, const char* suffix) {
    std::wstring from = folder + L"\\" + name, to = folder + hostpath::widen(suffix);
    foldertree::removeAt(MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? to : from);
}

// What cannot be deleted now (a file the run still has open without delete sharing) is left
// for the next run's sweep: the workspace's lock ends with the process.
// After a fault the faulting thread may be the one holding the lock: it is then not waited for.
void removeWatched(bool wait) {
    std::unique_lock<std::mutex> guard(watchedLock, std::defer_lock);
    if (wait)
        guard.lock();
    else
        (void)guard.try_lock();
    if (!watchedFile.empty())
        DeleteFileW(watchedFile.c_str());
    if (!watchedFolder.empty()) {
        removeOutside(watchedFolder, hostpath::widen(StaleLeftovers::ContentFolderName),
                      StaleLeftovers::MovedContentSuffix);
        foldertree::emptyFolder(watchedFolder, watchedKeepLast.empty() ? nullptr : watchedKeepLast.c_str());
        if (!watchedKeepLast.empty())
            removeOutside(watchedFolder, watchedKeepLast, StaleLeftovers::MovedLockSuffix);
        RemoveDirectoryW(watchedFolder.c_str());
    }
}

// Ctrl+C, Ctrl+Break, a closed console window, log-off and shut-down: the clean-up, then the
// end Windows gives a run stopped by Ctrl+C.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        removeWatched(true);
        ExitProcess(STATUS_CONTROL_C_EXIT);
    default:
        return FALSE;
    }
}

} // namespace

void SignalCleanup::install() {
    static const bool installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    (void)installed;
}

// Windows has no SIGPIPE: a write to a closed pipe already fails (ERROR_NO_DATA).
void SignalCleanup::ignoreBrokenPipe() {}

void SignalCleanup::watchFolder(const FileHandle& parent, const std::string& name, const FileHandle&,
                                const char* keepLast) {
    std::wstring parentPath = foldertree::pathOfHandle(handleOf(parent));
    std::lock_guard<std::mutex> guard(watchedLock);
    watchedFolder = parentPath.empty() ? std::wstring() : parentPath + L"\\" + hostpath::widen(name);
    watchedKeepLast = keepLast ? hostpath::widen(keepLast) : std::wstring();
}

void SignalCleanup::forgetFolder() {
    std::lock_guard<std::mutex> guard(watchedLock);
    watchedFolder.clear();
}

void SignalCleanup::watchFile(const std::string& path) {
    std::wstring widePath = path.empty() ? std::wstring() : hostpath::nativePath(path);
    std::lock_guard<std::mutex> guard(watchedLock);
    watchedFile = widePath;
}

void SignalCleanup::forgetFile() {
    std::lock_guard<std::mutex> guard(watchedLock);
    watchedFile.clear();
}

void SignalCleanup::cleanUpNow() noexcept {
    removeWatched(false);
}

void SignalCleanup::removeTree(const std::string& path) {
    foldertree::removeAt(hostpath::nativePath(path));
}

} // namespace quendle
