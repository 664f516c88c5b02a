#pragma once
#include "os/UniqueFd.h"

#include <string>

namespace quendle {

// What a run killed with SIGKILL (or by a power cut) leaves behind, found and removed by a later
// run. A run holds an exclusive flock on its workspace's lock file and on its temporary file
// beside the package for as long as it lives; the kernel drops the lock when the process dies,
// so an unlocked one belongs to nobody. Only the current user's things are touched.
class StaleLeftovers {
  public:
    // The name of the lock file inside a workspace folder.
    static constexpr const char* LockFileName = ".quendle-lock";
    // What a workspace is called until it holds its locked lock file.
    static constexpr const char* NewWorkspaceSuffix = ".quendle-new";

    // Creates the workspace folder (mode 0700) with its lock file, locked before the folder
    // appears under its name, and returns the lock. An empty result when that fails: the caller
    // then creates the folder plainly, which works but cannot be recognised as abandoned later.
    static UniqueFd createWorkspace(const std::string& workspaceFolder);

    // Deletes a workspace with its lock file last, so that a removal cut short by SIGKILL still
    // leaves a folder the next run recognises.
    static void removeWorkspace(const std::string& workspaceFolder);

    // Removes every folder of `tempFolder` named like a workspace ("{GUID}") whose lock file
    // nobody holds, and every "{GUID}.quendle-new" more than 10 seconds old whose creation was
    // cut short. Returns how many were removed.
    static int removeAbandonedWorkspaces(const std::string& tempFolder);

    // Locks a temporary file this run has just created; false with errno set.
    static bool lockTemporary(int fd);

    // Removes the hidden temporary files ".<name>.<8 hex digits>" beside `target` that are
    // unlocked and were last written more than `minimumAgeSeconds` ago (a run locks its file
    // right after creating it; the age closes that gap). Returns how many were removed.
    static int removeAbandonedTemporaries(const std::string& target, int minimumAgeSeconds = 10);
};

} // namespace quendle
