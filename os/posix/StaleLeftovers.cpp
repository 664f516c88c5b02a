#include "os/StaleLeftovers.h"
#include "os/posix/NativeHandle.h"
#include "os/posix/PosixFileSystem.h"

#include "os/FileSystem.h"
#include "os/posix/FolderTree.h"

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

// True when `fd` could be locked: no living process holds it. The Windows build run under Wine
// locks with a record lock (its LockFileEx), which flock does not see: that one is asked too.
bool nobodyHolds(int fd) {
    struct flock record = {};
    record.l_type = F_WRLCK;
    record.l_whence = SEEK_SET; // from 0, length 0: the whole file
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fcntl(fd, F_OFD_GETLK, &record) == 0 &&
           record.l_type == F_UNLCK;
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
    NativeHandle::reset(out.temp, hostpath::openFile(tempFolder, O_RDONLY | O_DIRECTORY));
    if (!out.temp)
        return false;
    if (::mkdirat(fdOf(out.temp), name.c_str(), 0700) != 0)
        return false;
    auto failed = [&] {
        int error = errno;
        if (out.folder)
            removeWorkspace(out, name);
        else
            ::unlinkat(fdOf(out.temp), name.c_str(), AT_REMOVEDIR);
        errno = error;
        return false;
    };
    NativeHandle::reset(out.folder, ::openat(fdOf(out.temp), name.c_str(), FolderFlags));
    struct stat st {};
    if (!out.folder || ::fstat(fdOf(out.folder), &st) != 0)
        return failed();
    if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        // Not the folder this mkdir made.
        errno = EEXIST;
        out.folder.reset();
        return false;
    }
    // Locked under a name no sweep looks at, then renamed: the lock file is never seen unlocked.
    const std::string pendingLock = std::string(LockFileName) + ".new";
    NativeHandle::reset(out.lock, ::openat(fdOf(out.folder), pendingLock.c_str(),
                                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.lock || ::flock(fdOf(out.lock), LOCK_EX) != 0 ||
        ::renameat(fdOf(out.folder), pendingLock.c_str(), fdOf(out.folder), LockFileName) != 0)
        return failed();
    if (::mkdirat(fdOf(out.folder), ContentFolderName, 0700) != 0)
        return failed();
    NativeHandle::reset(out.content, ::openat(fdOf(out.folder), ContentFolderName, FolderFlags));
    if (!out.content)
        return failed();
    return true;
}

void StaleLeftovers::removeWorkspace(WorkspaceHandles& workspace, const std::string& name) noexcept {
    if (!workspace.folder)
        return;
    workspace.content.reset();
    foldertree::emptyFolder(fdOf(workspace.folder), LockFileName);
    ::unlinkat(fdOf(workspace.folder), LockFileName, 0);
    // Whatever appeared meanwhile (a link planted while the tree was removed) goes too.
    for (int attempt = 0; workspace.temp && attempt < 8; ++attempt) {
        if (::unlinkat(fdOf(workspace.temp), name.c_str(), AT_REMOVEDIR) == 0 || errno != ENOTEMPTY)
            break;
        foldertree::emptyFolder(fdOf(workspace.folder));
    }
    workspace.folder.reset();
    // Only now: an unlocked workspace may be swept by another run.
    workspace.lock.reset();
}

int StaleLeftovers::removeAbandonedWorkspaces(const std::string& tempFolder) {
    int removed = 0;
    FileHandle temp = NativeHandle::adopt(hostpath::openFile(tempFolder, O_RDONLY | O_DIRECTORY));
    if (!temp)
        return 0;
    forEachEntry(tempFolder, [&](const std::string& name) {
        if (!isWorkspaceName(name))
            return;
        WorkspaceHandles found;
        NativeHandle::reset(found.folder, ::openat(fdOf(temp), name.c_str(),
                                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st = {};
        if (!found.folder || ::fstat(fdOf(found.folder), &st) != 0 || st.st_uid != ::geteuid())
            return;
        // Without a lock file it is another program's folder, or one being made right now.
        NativeHandle::reset(found.lock,
                            ::openat(fdOf(found.folder), LockFileName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!found.lock || !nobodyHolds(fdOf(found.lock)))
            return;
        NativeHandle::reset(found.temp, ::fcntl(fdOf(temp), F_DUPFD_CLOEXEC, 0));
        removeWorkspace(found, name);
        ++removed;
    });
    return removed;
}

bool StaleLeftovers::lockTemporary(const FileHandle& file) {
    return ::flock(fdOf(file), LOCK_EX | LOCK_NB) == 0;
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
        FileHandle fd =
            NativeHandle::adopt(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st = {};
        if (!fd || ::fstat(fdOf(fd), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
            now - st.st_mtime < minimumAgeSeconds || !nobodyHolds(fdOf(fd)))
            return;
        if (::unlink(path.c_str()) == 0)
            ++removed;
    });
    return removed;
}

} // namespace quendle
