#pragma once
#include <string>

namespace quendle {

// Removes the package's temporary things when the run is ended by SIGINT, SIGTERM, SIGHUP or
// SIGQUIT, then ends the process by the same signal. The removal inside the handler uses only
// system calls, so it is safe at any point of the run. One folder tree and one file are watched
// at a time; paths longer than PATH_MAX are not watched.
class SignalCleanup {
  public:
    // Installs the handlers (once per process).
    static void install();

    static void watchFolder(const std::string& path);
    static void forgetFolder();
    static void watchFile(const std::string& path);
    static void forgetFile();

    // Removes the watched folder and file now, using only system calls: for handlers of other
    // fatal signals (hardware faults) before they end the process.
    static void cleanUpNow() noexcept;

    // Deletes a folder tree the way the handler does (symbolic links are removed, never
    // followed); failures are ignored.
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
