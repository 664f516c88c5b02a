#include "package/Workspace.h"

#include "core/Exception.h"
#include "core/SystemError.h"
#include "os/ExceptionHandling.h"
#include "os/FileSystem.h"
#include "os/Guid.h"
#include "os/SignalCleanup.h"
#include "os/SystemError.h"
#include "util/strings/StringTable.h"

namespace quendle {

namespace {

// A GUID taken already is a planted name or another run's folder: try afresh, a few times.
constexpr int NameAttempts = 16;

} // namespace

void Workspace::create() {
    SignalCleanup::install();
    // A hardware fault ends the run from its own handler; the workspace goes with it too.
    setFaultCleanup(&SignalCleanup::cleanUpNow);
    std::string temp = hostpath::tempFolderPath();
    // Workspaces of runs that were killed outright are removed first: they may be gigabytes.
    (void)StaleLeftovers::removeAbandonedWorkspaces(temp);
    for (int attempt = 1;; ++attempt) {
        name_ = newGuidString(GuidCase::Upper, true);
        if (StaleLeftovers::createWorkspace(temp, name_, handles_))
            break;
        SystemError why = SystemError::last();
        if (why.kind() != SystemError::Kind::AlreadyExists || attempt == NameAttempts)
            throw Exception(Msg::WorkspaceNotCreated, temp, windowsErrorText(why.win32Code()));
    }
    folder_ = hostpath::joinPath(temp, name_);
    contentFolder_ = hostpath::joinPath(folder_, StaleLeftovers::ContentFolderName);
    SignalCleanup::watchFolder(handles_.temp, name_, handles_.folder, StaleLeftovers::LockFileName);
    hostpath::confineBelow(folder_, handles_.folder);
}

void Workspace::remove() noexcept {
    if (!exists())
        return;
    // The handler must not see descriptors that are about to close; a signal from here on leaves
    // a locked folder that the next run's sweep removes.
    SignalCleanup::forgetFolder();
    hostpath::endConfinement();
    StaleLeftovers::removeWorkspace(handles_, name_);
    handles_ = {};
}

} // namespace quendle
