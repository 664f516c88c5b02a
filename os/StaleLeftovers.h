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

    // Creates the workspace's lock file, already locked when it appears under its name, so that
    // no other run can see it unlocked. An empty result when it cannot be created: the workspace
    // then works as before, it just cannot be recognised as abandoned later.
    static UniqueFd lockWorkspace(const std::string& workspaceFolder);

    // Removes every folder of `tempFolder` named like a workspace ("{GUID}") that holds an
    // unlocked lock file. Returns how many were removed.
    static int removeAbandonedWorkspaces(const std::string& tempFolder);

    // Locks a temporary file this run has just created; false with errno set.
    static bool lockTemporary(int fd);

    // Removes the hidden temporary files ".<name>.<8 hex digits>" beside `target` that are
    // unlocked and were last written more than `minimumAgeSeconds` ago (a run locks its file
    // right after creating it; the age closes that gap). Returns how many were removed.
    static int removeAbandonedTemporaries(const std::string& target, int minimumAgeSeconds = 10);
};

} // namespace quendle
