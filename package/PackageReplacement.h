#pragma once
#include <string>

namespace quendle {

// Puts a finished archive in the place of the package file so that a crash at any moment leaves
// either the old or the new package: the archive is moved (or, across file systems, copied)
// to a temporary file beside the package, given the package's permissions, flushed to disk,
// renamed over the package, and the folder is flushed. The temporary file is removed on every
// failure and when the run is ended by a signal. Failures raise message 186 followed by the
// system's text of the error.
class PackageReplacement {
  public:
    explicit PackageReplacement(std::string packagePath);
    ~PackageReplacement();
    PackageReplacement(const PackageReplacement&) = delete;
    PackageReplacement& operator=(const PackageReplacement&) = delete;

    // Moves or copies `archivePath` into the temporary file, then installs it.
    void install(const std::string& archivePath);

  private:
    void createTemporary();
    void fillFrom(const std::string& archivePath);
    void commit();
    [[noreturn]] void fail(int err);

    std::string target_;    // the real file behind the package path
    std::string temporary_; // beside the target; empty when there is none
    int fd_ = -1;
};

} // namespace quendle
