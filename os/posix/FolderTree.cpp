#include "os/posix/FolderTree.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quendle::foldertree {

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct LinuxDirent64 {
    unsigned long long d_ino;
    long long d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool sameName(const char* a, const char* b) {
    if (!b)
        return false;
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Folders that could not be emptied, so that the walk does not enter them again and again.
struct StuckFolders {
    static constexpr int Capacity = 64;
    unsigned long long inodes[Capacity] = {};
    int count = 0;
    bool contains(unsigned long long inode) const {
        for (int i = 0; i < count; ++i)
            if (inodes[i] == inode)
                return true;
        return false;
    }
};

enum class PassResult { Descended, RemovedSome, Finished };

// One pass over the folder `fd`: removes what it can, or opens the first sub-folder that is not
// empty and makes it the current one.
PassResult pass(int& fd, const char* keepName, const StuckFolders& stuck, bool& entriesLeft) {
    alignas(8) char buffer[8192];
    bool removed = false;
    entriesLeft = false;
    if (::lseek(fd, 0, SEEK_SET) < 0)
        return PassResult::Finished;
    for (;;) {
        long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (long off = 0; off < n;) {
            auto* entry = reinterpret_cast<LinuxDirent64*>(buffer + off);
            off += entry->d_reclen;
            const char* name = entry->d_name;
            if (isDotOrDotDot(name) || sameName(name, keepName))
                continue;
            if (::unlinkat(fd, name, 0) == 0 || ::unlinkat(fd, name, AT_REMOVEDIR) == 0) {
                removed = true;
                continue;
            }
            entriesLeft = true;
            if (stuck.contains(entry->d_ino))
                continue;
            int sub = ::openat(fd, name, FolderFlags);
            if (sub < 0)
                continue;
            // A read-only folder of ours would keep its files.
            (void)::fchmod(sub, S_IRWXU);
            ::close(fd);
            fd = sub;
            return PassResult::Descended;
        }
    }
    return removed ? PassResult::RemovedSome : PassResult::Finished;
}

} // namespace

void emptyFolder(int folderFd, const char* keepName) noexcept {
    int savedErrno = errno;
    StuckFolders stuck;
    int fd = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    long depth = 0;
    // Bounds the work when something keeps refilling the tree.
    for (long budget = 1L << 24; fd >= 0 && budget > 0; --budget) {
        bool entriesLeft = false;
        PassResult result = pass(fd, depth == 0 ? keepName : nullptr, stuck, entriesLeft);
        if (result == PassResult::Descended) {
            ++depth;
            continue;
        }
        if (result == PassResult::RemovedSome)
            continue; // removing while reading may skip entries: read again
        if (depth == 0)
            break;
        if (entriesLeft) {
            struct stat st {};
            if (::fstat(fd, &st) != 0 || stuck.count == StuckFolders::Capacity)
                break;
            stuck.inodes[stuck.count++] = st.st_ino;
        }
        // Back up one level; the top is never reached through "..", so the walk cannot leave it.
        int parent = --depth == 0 ? ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0) : ::openat(fd, "..", FolderFlags);
        ::close(fd);
        fd = parent;
    }
    if (fd >= 0)
        ::close(fd);
    errno = savedErrno;
}

void removeAt(int parentFd, const char* name, const char* keepLast) noexcept {
    int savedErrno = errno;
    if (::unlinkat(parentFd, name, 0) != 0) {
        int fd = ::openat(parentFd, name, FolderFlags);
        if (fd >= 0) {
            (void)::fchmod(fd, S_IRWXU);
            emptyFolder(fd, keepLast);
            if (keepLast)
                (void)::unlinkat(fd, keepLast, 0);
            ::close(fd);
        }
        (void)::unlinkat(parentFd, name, AT_REMOVEDIR);
    }
    errno = savedErrno;
}

} // namespace quendle::foldertree
