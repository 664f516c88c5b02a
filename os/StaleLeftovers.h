#pragma once
#include "os/FileHandle.h"

#include <string>

namespace quendle {

// What a run killed with SIGKILL (or by a power cut) leaves behind, found and removed by a later
// run. A run holds an exclusive flock on its workspace's lock file and on its temporary file
// beside the package for as long as it lives; the kernel drops the lock when the process dies,
// so an unlocked one belongs to nobody. Only the current user's things are touched.
class StaleLeftovers {
  public:
    // The name of the lock file inside a workspace folder; it appears only once it is locked.
    static constexpr const char* LockFileName = ".quendle-lock";
    // The content folder inside a workspace.
    static constexpr const char* ContentFolderName = "res";
    // Where Windows' Ctrl+C clean-up moves the content folder and the lock file, still open, out
    // beside the workspace ("{GUID}.gone"), so that the folder can go; the sweep takes what stays.
    static constexpr const char* MovedContentSuffix = ".gone";
    static constexpr const char* MovedLockSuffix = ".gone-lock";

    // A workspace as descriptors: every later operation on it is relative to these.
    struct WorkspaceHandles {
        FileHandle temp;    // the folder the workspace is in
        FileHandle folder;  // the workspace itself
        FileHandle lock;    // its lock file, locked
        FileHandle content; // its content folder
    };

    // Creates the folder `name` in `tempFolder` with one mkdir (mode 0700), which fails on any
    // existing entry of that name (SystemError kind AlreadyExists), then its lock file and content folder
    // inside it, all through descriptors. False (SystemError::last() tells why); nothing is left behind then.
    static bool createWorkspace(const std::string& tempFolder, const std::string& name,
                                WorkspaceHandles& out);

    // Deletes a workspace through its descriptors, its lock file last, so that a removal cut
    // short by SIGKILL still leaves a folder the next run recognises. Any depth; never raises.
    static void removeWorkspace(WorkspaceHandles& workspace, const std::string& name) noexcept;

    // Removes every folder of `tempFolder` named like a workspace ("{GUID}") that this user owns
    // and that holds a lock file nobody holds, and on Windows what a Ctrl+C moved out of such a
    // folder once no lock of it is held. Returns how many were removed.
    static int removeAbandonedWorkspaces(const std::string& tempFolder);

    // Locks a temporary file this run has just created; false (SystemError::last() tells why).
    static bool lockTemporary(const FileHandle& file);

    // Removes the hidden temporary files ".<name>.<8 hex digits>" beside `target` that are
    // unlocked and were last written more than `minimumAgeSeconds` ago (a run locks its file
    // right after creating it; the age closes that gap). Returns how many were removed.
    static int removeAbandonedTemporaries(const std::string& target, int minimumAgeSeconds = 10);
};

} // namespace quendle
