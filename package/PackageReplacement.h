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

  private:
    AtomicFileReplacement replacement_;
};

} // namespace quendle
