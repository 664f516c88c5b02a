#include "os/StaleLeftovers.h"

#include "os/FileSystem.h"
#include "os/SignalCleanup.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quendle {

namespace {

struct FolderCloser {
    void operator()(DIR* folder) const { ::closedir(folder); }
};

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", the workspace's name.
bool isWorkspaceName(const std::string& name) {
    if (name.size() != 38 || name.front() != '{' || name.back() != '}')
        return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? name[i] != '-' : !isHex(name[i]))
            return false;
    }
    return true;
}

// True when `fd` could be locked: no living process holds it.
bool nobodyHolds(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// Calls `visit(name)` for each entry of `folder` but "." and "..".
template <typename Visit>
void forEachEntry(const std::string& folder, Visit visit) {
    std::unique_ptr<DIR, FolderCloser> dir(::opendir(folder.c_str()));
    if (!dir)
        return;
    while (dirent* entry = ::readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            visit(name);
    }
}

// The folder a file is in; "." for a bare name.
std::string folderOf(const std::string& path) {
    std::string folder = hostpath::folderOf(path);
    return folder.empty() ? "." : folder;
}

} // namespace

UniqueFd StaleLeftovers::createWorkspace(const std::string& workspaceFolder) {
    std::string pending = workspaceFolder + NewWorkspaceSuffix;
    if (::mkdir(pending.c_str(), 0700) != 0)
        return {};
    UniqueFd fd(::open((pending + "/" + LockFileName).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       0600));
    if (!fd || ::flock(fd.get(), LOCK_EX) != 0 || ::rename(pending.c_str(), workspaceFolder.c_str()) != 0) {
        SignalCleanup::removeTree(pending);
        return {};
    }
    return fd;
}

void StaleLeftovers::removeWorkspace(const std::string& workspaceFolder) {
    forEachEntry(workspaceFolder, [&](const std::string& name) {
        if (name == LockFileName)
            return;
        std::string path = workspaceFolder + "/" + name;
        struct stat st = {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            SignalCleanup::removeTree(path);
        else
            ::unlink(path.c_str());
    });
    SignalCleanup::removeTree(workspaceFolder);
}

int StaleLeftovers::removeAbandonedWorkspaces(const std::string& tempFolder) {
    int removed = 0;
    std::time_t now = std::time(nullptr);
    const std::string suffix = NewWorkspaceSuffix;
    forEachEntry(tempFolder, [&](const std::string& name) {
        bool unfinished = name.size() == 38 + suffix.size() && name.ends_with(suffix);
        if (!isWorkspaceName(unfinished ? name.substr(0, 38) : name))
            return;
        std::string folder = tempFolder + "/" + name;
        struct stat st = {};
        if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            return;
        UniqueFd lock(::open((folder + "/" + LockFileName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (lock && !nobodyHolds(lock.get()))
            return;
        if (unfinished) {
            // Its lock is taken right after the folder is made: the age covers that moment.
            if (now - st.st_mtime < 10)
                return;
            SignalCleanup::removeTree(folder);
        } else {
            // Without a lock file it is another program's folder (or an older version's).
            if (!lock)
                return;
            removeWorkspace(folder);
        }
        ++removed;
    });
    return removed;
}

bool StaleLeftovers::lockTemporary(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

int StaleLeftovers::removeAbandonedTemporaries(const std::string& target, int minimumAgeSeconds) {
    std::string folder = folderOf(target);
    std::string prefix = "." + hostpath::fileNameOf(target) + ".";
    int removed = 0;
    std::time_t now = std::time(nullptr);
    forEachEntry(folder, [&](const std::string& name) {
        if (name.size() != prefix.size() + 8 || name.compare(0, prefix.size(), prefix) != 0)
            return;
        for (size_t i = prefix.size(); i < name.size(); ++i)
            if (!isHex(name[i]))
                return;
        std::string path = folder + "/" + name;
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st = {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
            now - st.st_mtime < minimumAgeSeconds || !nobodyHolds(fd.get()))
            return;
        if (::unlink(path.c_str()) == 0)
            ++removed;
    });
    return removed;
}

} // namespace quendle
