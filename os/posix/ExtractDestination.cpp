#include "os/ExtractDestination.h"
#include "os/posix/NativeHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quendle {

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// mkdir -p for the destination itself, which the caller chose and may contain links.
bool makeFolders(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) || (errno = ENOTDIR, false);
    size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(folder.substr(0, slash)))
        return false;
    return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

} // namespace

bool ExtractDestination::open(const std::string& folder) {
    folder_ = folder;
    while (folder_.size() > 1 && folder_.back() == '/')
        folder_.pop_back();
    if (folder_.empty() || !makeFolders(folder_))
        return false;
    NativeHandle::reset(root_, ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return static_cast<bool>(root_);
}

bool ExtractDestination::open(const std::string& folder, const FileHandle& folderHandle) {
    folder_ = folder;
    NativeHandle::reset(root_, ::fcntl(fdOf(folderHandle), F_DUPFD_CLOEXEC, 0));
    return static_cast<bool>(root_);
}

FileHandle ExtractDestination::openParent(const std::vector<std::string>& components, bool create) {
    FileHandle current = NativeHandle::adopt(::dup(fdOf(root_)));
    for (size_t k = 0; current && k + 1 < components.size(); ++k) {
        const char* name = components[k].c_str();
        int fd = ::openat(fdOf(current), name, DirectoryFlags);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(fdOf(current), name, 0755) != 0 && errno != EEXIST)
                return FileHandle();
            fd = ::openat(fdOf(current), name, DirectoryFlags);
        }
        NativeHandle::reset(current, fd);
    }
    return current;
}

bool ExtractDestination::createFolders(const std::vector<std::string>& components) {
    if (components.empty())
        return true;
    FileHandle parent = openParent(components, true);
    if (!parent)
        return false;
    const char* name = components.back().c_str();
    if (::mkdirat(fdOf(parent), name, 0755) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    FileHandle existing = NativeHandle::adopt(::openat(fdOf(parent), name, DirectoryFlags));
    return static_cast<bool>(existing);
}

FileHandle ExtractDestination::createFile(const std::vector<std::string>& components) {
    if (components.empty())
        return FileHandle();
    FileHandle parent = openParent(components, true);
    if (!parent)
        return FileHandle();
    const char* name = components.back().c_str();
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(fdOf(parent), name, flags, 0644);
    // An existing entry is replaced by unlinking it: that removes a link itself, never its target.
    if (fd < 0 && errno == EEXIST && ::unlinkat(fdOf(parent), name, 0) == 0)
        fd = ::openat(fdOf(parent), name, flags, 0644);
    return NativeHandle::adopt(fd);
}

void ExtractDestination::removeFile(const std::vector<std::string>& components) {
    if (components.empty())
        return;
    FileHandle parent = openParent(components, false);
    if (parent)
        ::unlinkat(fdOf(parent), components.back().c_str(), 0);
}

std::string ExtractDestination::hostPath(const std::vector<std::string>& components) const {
    std::string path = folder_;
    for (const std::string& c : components) {
        if (path.empty() || path.back() != '/')
            path += '/';
        path += c;
    }
    return path;
}

uint64_t ExtractDestination::availableBytes() const {
    struct statvfs fs {};
    if (!root_ || ::fstatvfs(fdOf(root_), &fs) != 0)
        return UINT64_MAX;
    return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

} // namespace quendle
