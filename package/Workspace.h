#pragma once
#include "os/StaleLeftovers.h"

#include <string>

namespace quendle {

// The private folder a package is extracted into, and everything about its life: made with one
// mkdir that must succeed (mode 0700, a fresh name when one is taken), locked so that no other
// run's leftover sweep takes it, reached only through its descriptor (a symbolic link planted in
// it or at its name is never followed), removed at any depth when the run ends, is interrupted by
// a signal or faults. Creating one first removes what killed runs left behind.
class Workspace {
  public:
    Workspace() = default;
    ~Workspace() { remove(); }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // Makes the workspace in the temp folder; raises a clear error when that is impossible.
    void create();
    bool exists() const { return static_cast<bool>(handles_.folder); }

    const std::string& folder() const { return folder_; }
    // The folder the package's entries go into, by name and open.
    const std::string& contentFolder() const { return contentFolder_; }
    const FileHandle& contentHandle() const { return handles_.content; }

    // Removes the workspace with everything in it; never raises.
    void remove() noexcept;

  private:
    std::string name_;
    std::string folder_;
    std::string contentFolder_;
    StaleLeftovers::WorkspaceHandles handles_;
};

} // namespace quendle
