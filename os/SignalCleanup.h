#pragma once
#include "os/FileHandle.h"

#include <string>

namespace quendle {

// Removes the package's temporary things when the run is ended by any signal whose default is to
// end the process and that can be caught (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM,
// SIGPIPE, the real-time signals, ...), then ends the process by the same signal. SIGXFSZ is
// ignored instead: a file-size limit then shows up as a failed write (EFBIG) that the run reports.
// The removal inside the handler uses only system calls, so it is safe at any point of the run.
// One folder tree and one file are watched at a time; a watched file path must fit PATH_MAX.
class SignalCleanup {
  public:
    // Installs the handlers (once per process).
    static void install();
    // A closed pipe on standard output then ends the run as a failed write instead of killing it.
    static void ignoreBrokenPipe();

    // The folder open as `folder`, entry `name` of the folder open as `parent`; both stay
    // open while watched. Its entry `keepLast` (may be nullptr) is removed after the rest.
    static void watchFolder(const FileHandle& parent, const std::string& name, const FileHandle& folder,
                            const char* keepLast);
    static void forgetFolder();
    static void watchFile(const std::string& path);
    static void forgetFile();

    // Removes the watched folder and file now, using only system calls: for handlers of other
    // fatal signals (hardware faults) before they end the process.
    static void cleanUpNow() noexcept;

    // Deletes a folder tree the way the handler does (symbolic links are removed, never
    // followed, at any depth); failures are ignored.
    static void removeTree(const std::string& path);
};

// Watches a file for its lifetime.
class WatchedFileScope {
  public:
    explicit WatchedFileScope(const std::string& path) { SignalCleanup::watchFile(path); }
    ~WatchedFileScope() { SignalCleanup::forgetFile(); }
    WatchedFileScope(const WatchedFileScope&) = delete;
    WatchedFileScope& operator=(const WatchedFileScope&) = delete;
};

} // namespace quendle
