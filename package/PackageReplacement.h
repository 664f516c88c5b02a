#pragma once
#include "os/AtomicFileReplacement.h"

#include <string>

namespace quendle {

// Puts a finished archive in the place of the package file, crash-safe (see
// AtomicFileReplacement). Failures raise message 186 followed by the system's text of the error.
class PackageReplacement {
  public:
    explicit PackageReplacement(std::string packagePath);

    void install(const std::string& archivePath) { replacement_.install(archivePath); }
    // The new archive is written straight into the file beside the package that replaces it.
    std::string prepare() { return replacement_.prepare(); }
    void commit() { replacement_.commit(); }

  private:
    AtomicFileReplacement replacement_;
};

} // namespace quendle
