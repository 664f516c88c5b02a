#pragma once
#include "os/FileHandle.h"
#include "os/SystemError.h"

#include <string>

namespace quendle {

// Puts a finished file in the place of another so that a crash at any moment leaves either the
// old or the new one: the file is moved (or, across file systems, copied) to a temporary file
// beside the target, given the target's permissions, flushed to disk, renamed over the target,
// and the folder is flushed. The temporary file is removed on every failure and when the run is
// ended by a signal. Failures raise `failureText` followed by the system's text of the error.
class AtomicFileReplacement {
  public:
    AtomicFileReplacement(std::string targetPath, std::string failureText);
    ~AtomicFileReplacement();
    AtomicFileReplacement(const AtomicFileReplacement&) = delete;
    AtomicFileReplacement& operator=(const AtomicFileReplacement&) = delete;

    // Moves or copies `sourcePath` into the temporary file, then installs it.
    void install(const std::string& sourcePath);

    // For a file written in place: creates the temporary beside the target and returns its
    // path; the caller fills it (keeping its inode), then calls commit().
    std::string prepare();
    void commit();

  private:
    void createTemporary();
    void fillFrom(const std::string& sourcePath);
    void checkWritable();
    // Raises the failure text with the last system error, or with the one given.
    [[noreturn]] void fail();
    [[noreturn]] void fail(const SystemError& why);

    std::string target_;    // the real file behind the target path
    std::string temporary_; // beside the target; empty when there is none
    std::string failureText_;
    FileHandle fd_;
};

} // namespace quendle
