#include "os/StaleLeftovers.h"

#include "os/FileSystem.h"
#include "os/FolderTree.h"

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
template <typename Visit> void forEachEntry(const std::string& folder, Visit visit) {
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

bool StaleLeftovers::createWorkspace(const std::string& tempFolder, const std::string& name,
                                     WorkspaceHandles& out) {
    constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    out = WorkspaceHandles{};
    out.temp.reset(hostpath::openFile(tempFolder, O_RDONLY | O_DIRECTORY));
    if (!out.temp)
        return false;
    if (::mkdirat(out.temp.get(), name.c_str(), 0700) != 0)
        return false;
    auto failed = [&] {
        int error = errno;
        if (out.folder)
            removeWorkspace(out, name);
        else
            ::unlinkat(out.temp.get(), name.c_str(), AT_REMOVEDIR);
        errno = error;
        return false;
    };
    out.folder.reset(::openat(out.temp.get(), name.c_str(), FolderFlags));
    struct stat st {};
    if (!out.folder || ::fstat(out.folder.get(), &st) != 0)
        return failed();
    if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        // Not the folder this mkdir made.
        errno = EEXIST;
        out.folder.reset();
        return false;
    }
    // Locked under a name no sweep looks at, then renamed: the lock file is never seen unlocked.
    const std::string pendingLock = std::string(LockFileName) + ".new";
    out.lock.reset(::openat(out.folder.get(), pendingLock.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.lock || ::flock(out.lock.get(), LOCK_EX) != 0 ||
        ::renameat(out.folder.get(), pendingLock.c_str(), out.folder.get(), LockFileName) != 0)
        return failed();
    if (::mkdirat(out.folder.get(), ContentFolderName, 0700) != 0)
        return failed();
    out.content.reset(::openat(out.folder.get(), ContentFolderName, FolderFlags));
    if (!out.content)
        return failed();
    return true;
}

void StaleLeftovers::removeWorkspace(WorkspaceHandles& workspace, const std::string& name) noexcept {
    if (!workspace.folder)
        return;
    workspace.content.reset();
    foldertree::emptyFolder(workspace.folder.get(), LockFileName);
    ::unlinkat(workspace.folder.get(), LockFileName, 0);
    // Whatever appeared meanwhile (a link planted while the tree was removed) goes too.
    for (int attempt = 0; workspace.temp && attempt < 8; ++attempt) {
        if (::unlinkat(workspace.temp.get(), name.c_str(), AT_REMOVEDIR) == 0 || errno != ENOTEMPTY)
            break;
        foldertree::emptyFolder(workspace.folder.get());
    }
    workspace.folder.reset();
    // Only now: an unlocked workspace may be swept by another run.
    workspace.lock.reset();
}

int StaleLeftovers::removeAbandonedWorkspaces(const std::string& tempFolder) {
    int removed = 0;
    UniqueFd temp(hostpath::openFile(tempFolder, O_RDONLY | O_DIRECTORY));
    if (!temp)
        return 0;
    forEachEntry(tempFolder, [&](const std::string& name) {
        if (!isWorkspaceName(name))
            return;
        WorkspaceHandles found;
        found.folder.reset(
            ::openat(temp.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st = {};
        if (!found.folder || ::fstat(found.folder.get(), &st) != 0 || st.st_uid != ::geteuid())
            return;
        // Without a lock file it is another program's folder, or one being made right now.
        found.lock.reset(::openat(found.folder.get(), LockFileName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!found.lock || !nobodyHolds(found.lock.get()))
            return;
        found.temp.reset(::fcntl(temp.get(), F_DUPFD_CLOEXEC, 0));
        removeWorkspace(found, name);
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
