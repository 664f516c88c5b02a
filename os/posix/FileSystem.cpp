#include "os/FileSystem.h"
#include "os/posix/NativeHandle.h"
#include "os/posix/PosixFileSystem.h"

#include "core/Exception.h"
#include "core/SystemError.h"
#include "os/FileHandle.h"
#include "os/SystemError.h"
#include "os/posix/FolderTree.h"
#include "util/strings/MessageFormat.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quendle {
namespace {

// A path with a NUL inside names nothing: the system would see only its first part.
bool usable(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

// The confined folder: its path and its descriptor.
std::string confinedFolder;
int confinedFd = -1;

constexpr size_t PlainPathLimit = PATH_MAX - 1;

// The folder holding the last component of a path, opened by the confinement rules, and that
// component's name. `dirFd` is AT_FDCWD when a plain call is safe.
struct ResolvedPath {
    int dirFd = AT_FDCWD;
    std::string leaf;
    bool confined = false;
    ~ResolvedPath() {
        if (dirFd >= 0)
            ::close(dirFd);
    }
    bool ok() const { return dirFd >= 0 || dirFd == AT_FDCWD; }
    int noFollow() const { return confined ? O_NOFOLLOW : 0; }
};

void resolve(std::string_view path, ResolvedPath& out) {
    std::string_view rest = path;
    int start = -1;
    if (confinedFd >= 0 && path.size() > confinedFolder.size() && path.starts_with(confinedFolder) &&
        path[confinedFolder.size()] == '/') {
        out.confined = true;
        start = ::fcntl(confinedFd, F_DUPFD_CLOEXEC, 0);
        rest.remove_prefix(confinedFolder.size() + 1);
    } else if (path.size() <= PlainPathLimit) {
        out.leaf = std::string(path);
        return;
    } else {
        bool absolute = path.front() == '/';
        start = ::open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    out.dirFd = start;
    while (out.dirFd >= 0) {
        while (!rest.empty() && rest.front() == '/')
            rest.remove_prefix(1);
        size_t slash = rest.find('/');
        std::string_view component = rest.substr(0, slash);
        if (slash == std::string_view::npos || rest.find_first_not_of('/', slash) == std::string_view::npos) {
            out.leaf = std::string(component);
            if (out.leaf.empty() || (out.confined && out.leaf == ".."))
                out.leaf = ".";
            return;
        }
        rest.remove_prefix(slash + 1);
        if (out.confined && component == "..") {
            ::close(out.dirFd);
            out.dirFd = -1;
            errno = EACCES;
            return;
        }
        int next = ::openat(out.dirFd, std::string(component).c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC | out.noFollow());
        ::close(out.dirFd);
        out.dirFd = next;
    }
}

bool statOf(std::string_view path, struct stat& st) {
    if (!usable(path))
        return false;
    ResolvedPath r;
    resolve(path, r);
    return r.ok() && ::fstatat(r.dirFd, r.leaf.c_str(), &st, r.confined ? AT_SYMLINK_NOFOLLOW : 0) == 0;
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

} // namespace

namespace hostpath {

std::string toLongPath(std::string_view path) {
    return std::string(path);
}

std::string normalizePath(std::string_view path) {
    std::string out(path);
    while (out.size() > 1 && out.back() == Separator)
        out.pop_back();
    return out;
}

std::string joinPath(std::string_view folder, std::string_view component) {
    while (!component.empty() && component.front() == Separator)
        component.remove_prefix(1);
    while (!component.empty() && component.back() == Separator)
        component.remove_suffix(1);
    std::string out(folder);
    if (component.empty())
        return out;
    if (!out.empty() && out.back() != Separator)
        out += Separator;
    out += component;
    return out;
}

std::string fileNameOf(std::string_view path) {
    size_t slash = path.rfind(Separator);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string folderOf(std::string_view path) {
    size_t slash = path.rfind(Separator);
    if (slash == std::string_view::npos)
        return {};
    return std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
}

std::string absolutePath(std::string_view path) {
    std::filesystem::path p{std::string(path)};
    if (p.is_relative()) {
        std::error_code ec;
        auto cwd = std::filesystem::current_path(ec);
        if (!ec)
            p = cwd / p;
    }
    std::string out = p.lexically_normal().string();
    return normalizePath(out);
}

std::string executablePath() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n <= 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

std::string tempFolderPath() {
    const char* tmp = std::getenv("TMPDIR");
    std::string out = tmp && *tmp ? normalizePath(tmp) : std::string("/tmp");
    return out;
}

void confineBelow(const std::string& folder, const FileHandle& folderHandle) {
    confinedFolder = normalizePath(folder);
    confinedFd = folder.empty() ? -1 : fdOf(folderHandle);
}

void endConfinement() {
    confinedFolder.clear();
    confinedFd = -1;
}

int openFile(std::string_view path, int flags, unsigned mode) {
    if (!usable(path)) {
        errno = ENOENT;
        return -1;
    }
    ResolvedPath r;
    resolve(path, r);
    if (!r.ok())
        return -1;
    return ::openat(r.dirFd, r.leaf.c_str(), flags | O_CLOEXEC | r.noFollow(), static_cast<mode_t>(mode));
}

bool renameFile(std::string_view from, std::string_view to) {
    if (!usable(from) || !usable(to)) {
        errno = ENOENT;
        return false;
    }
    ResolvedPath a, b;
    resolve(from, a);
    resolve(to, b);
    return a.ok() && b.ok() && ::renameat(a.dirFd, a.leaf.c_str(), b.dirFd, b.leaf.c_str()) == 0;
}

bool pathExists(std::string_view path) {
    struct stat st;
    return statOf(path, st);
}

bool fileExists(std::string_view path) {
    struct stat st;
    return statOf(path, st) && S_ISREG(st.st_mode);
}

bool folderExists(std::string_view path) {
    struct stat st;
    return statOf(path, st) && S_ISDIR(st.st_mode);
}

uint64_t fileSize(std::string_view path) {
    struct stat st;
    if (!usable(path))
        throw WindowsException(win32::InvalidName);
    if (!statOf(path, st))
        SystemError::last().raise();
    return static_cast<uint64_t>(st.st_size);
}

std::string readSmallFile(std::string_view path, uint64_t maxBytes) {
    if (!usable(path))
        throw WindowsException(win32::InvalidName);
    FdCloser f{openFile(path, O_RDONLY)};
    if (f.fd < 0)
        SystemError::last().raise();
    struct stat st;
    if (::fstat(f.fd, &st) != 0)
        SystemError::last().raise();
    if (S_ISDIR(st.st_mode))
        throw WindowsException(win32::AccessDenied);
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SystemError::last().raise();
        }
        if (n == 0)
            break;
        // The size is checked while reading: the file may grow, and stat may not know it.
        if (out.size() + static_cast<uint64_t>(n) > maxBytes)
            throw Exception(formatMessageId(Msg::FileTooLargeToRead, {std::string(path)}));
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::vector<std::string> folderEntries(std::string_view folder) {
    std::vector<std::string> names;
    if (!usable(folder))
        return names;
    int fd = openFile(folder, O_RDONLY | O_DIRECTORY);
    std::unique_ptr<DIR, DirCloser> dir(fd >= 0 ? ::fdopendir(fd) : nullptr);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    while (const dirent* e = ::readdir(dir.get())) {
        std::string_view name = e->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    return names;
}

bool createFolder(std::string_view path) {
    if (!usable(path))
        return false;
    ResolvedPath r;
    resolve(path, r);
    if (!r.ok())
        return false;
    if (::mkdirat(r.dirFd, r.leaf.c_str(), 0700) == 0)
        return true;
    return errno == EEXIST && folderExists(path);
}

bool deleteFile(std::string_view path) {
    if (!usable(path))
        return false;
    ResolvedPath r;
    resolve(path, r);
    return r.ok() && ::unlinkat(r.dirFd, r.leaf.c_str(), 0) == 0;
}

bool removeFolder(std::string_view path) {
    if (!usable(path))
        return false;
    ResolvedPath r;
    resolve(path, r);
    return r.ok() && ::unlinkat(r.dirFd, r.leaf.c_str(), AT_REMOVEDIR) == 0;
}

void deleteFolderTree(std::string_view folder, bool deleteFiles) {
    if (!usable(folder))
        return;
    if (deleteFiles) {
        FileHandle fd = NativeHandle::adopt(openFile(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
        if (fd)
            foldertree::emptyFolder(fdOf(fd));
        return;
    }
    std::unique_ptr<DIR, DirCloser> dir(::opendir(std::string(folder).c_str()));
    if (!dir)
        return;
    std::vector<std::pair<std::string, bool>> entries; // name, is a real folder
    while (dirent* e = ::readdir(dir.get())) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        std::string full = joinPath(folder, name);
        struct stat st;
        if (::lstat(full.c_str(), &st) != 0)
            continue;
        entries.emplace_back(std::move(full), S_ISDIR(st.st_mode));
    }
    dir.reset();
    for (const auto& [full, isFolder] : entries) {
        if (isFolder) {
            deleteFolderTree(full, false);
            ::rmdir(full.c_str());
        }
    }
}

} // namespace hostpath

} // namespace quendle
