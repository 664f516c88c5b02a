#include "os/FileSystem.h"

#include "core/Exception.h"
#include "core/SystemError.h"

#include <cerrno>
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

bool statOf(std::string_view path, struct stat& st) {
    return usable(path) && ::stat(std::string(path).c_str(), &st) == 0;
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
    if (::stat(std::string(path).c_str(), &st) != 0)
        throw WindowsException::fromErrno(errno);
    return static_cast<uint64_t>(st.st_size);
}

std::string readSmallFile(std::string_view path, uint64_t maxBytes) {
    if (!usable(path))
        throw WindowsException(win32::InvalidName);
    FdCloser f{::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0)
        throw WindowsException::fromErrno(errno);
    struct stat st;
    if (::fstat(f.fd, &st) != 0)
        throw WindowsException::fromErrno(errno);
    if (S_ISDIR(st.st_mode))
        throw WindowsException(win32::AccessDenied);
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw WindowsException::fromErrno(errno);
        }
        if (n == 0)
            break;
        // The size is checked while reading: the file may grow, and stat may not know it.
        if (out.size() + static_cast<uint64_t>(n) > maxBytes)
            throw Exception("File is too large to be read: \"" + std::string(path) + "\".");
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::vector<std::string> folderEntries(std::string_view folder) {
    std::vector<std::string> names;
    if (!usable(folder))
        return names;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(std::string(folder).c_str()));
    if (!dir)
        return names;
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
    if (::mkdir(std::string(path).c_str(), 0700) == 0)
        return true;
    return errno == EEXIST && folderExists(path);
}

bool deleteFile(std::string_view path) {
    return usable(path) && ::unlink(std::string(path).c_str()) == 0;
}

bool removeFolder(std::string_view path) {
    return usable(path) && ::rmdir(std::string(path).c_str()) == 0;
}

void deleteFolderTree(std::string_view folder, bool deleteFiles) {
    if (!usable(folder))
        return;
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
            // A read-only folder would keep its files; open it up before the walk goes in.
            if (deleteFiles)
                ::chmod(full.c_str(), S_IRWXU);
            deleteFolderTree(full, deleteFiles);
            ::rmdir(full.c_str());
        } else if (deleteFiles) {
            ::unlink(full.c_str());
        }
    }
}

} // namespace hostpath

namespace packagepath {

std::string normalizePath(std::string_view path) {
    if (path.substr(0, 4) == "\\\\?\\")
        path.remove_prefix(4);
    while (!path.empty() && path.back() == Separator)
        path.remove_suffix(1);
    size_t leading = 0;
    while (leading < path.size() && path[leading] == Separator)
        ++leading;
    if (leading >= 2)
        return "\\\\" + std::string(path.substr(leading));
    return std::string(path.substr(leading));
}

std::string joinPath(std::string_view folder, std::string_view component) {
    std::string c = normalizePath(component);
    std::string out(folder);
    if (c.empty())
        return out;
    if (!out.empty())
        out += Separator;
    out += c;
    return out;
}

std::string fileNameOf(std::string_view path) {
    size_t slash = path.rfind(Separator);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace packagepath
} // namespace quendle
