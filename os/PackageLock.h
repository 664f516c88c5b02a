#pragma once
#include "os/FileHandle.h"

#include <functional>
#include <string>

namespace quendle {

// An exclusive lock on a package file that the kernel drops when the process ends, held from the
// moment the package is read until its replacement is in place. The replacement is a new file
// under the same name, so a run that waited on the old file follows the name and locks the new
// one: it then works on the other run's result, never beside it.
class PackageLock {
  public:
    // Called once when another run holds the lock, with a description of that run.
    using WaitNotice = std::function<void(const std::string& holder)>;

    // True once locked; false after `timeoutSeconds` of waiting (`holder` then describes the
    // run that held it) or when the file cannot be opened at all (`holder` empty).
    bool acquire(const std::string& path, int timeoutSeconds, const WaitNotice& onWait, std::string& holder);
    void release() { fd_.reset(); }
    // Unlocks and gives up the open package file, for a caller that closes it itself.
    FileHandle unlockAndTake();
    bool held() const { return static_cast<bool>(fd_); }

    // "process 1234 (quendle)" for the process holding a lock on the open file.
    static std::string describeHolder(const FileHandle& file);

  private:
    FileHandle fd_;
};

} // namespace quendle
