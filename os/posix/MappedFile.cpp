#include "os/MappedFile.h"
#include "os/posix/NativeHandle.h"
#include "os/posix/PosixFileSystem.h"

#include "os/FileSystem.h"
#include "os/FileHandle.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quendle {

MappedFile::~MappedFile() {
    if (data_)
        ::munmap(const_cast<uint8_t*>(data_), size_);
}

MappedFile::Result MappedFile::open(const std::string& path) {
    FileHandle fd = NativeHandle::adopt(hostpath::openFile(path, O_RDONLY));
    if (fdOf(fd) < 0)
        return OpenFailed;
    struct stat st {};
    if (::fstat(fdOf(fd), &st) != 0)
        return OpenFailed;
    if (!S_ISREG(st.st_mode))
        return NotAFile;
    // The size comes from the file system, not from the file's contents, and bounds every read.
    size_ = static_cast<size_t>(st.st_size);
    if (size_ == 0)
        return Opened;
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fdOf(fd), 0);
    if (p == MAP_FAILED) {
        size_ = 0;
        return MapFailed;
    }
    data_ = static_cast<const uint8_t*>(p);
    return Opened;
}

void MappedFile::release(const uint8_t* from, size_t length) const {
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t start = (reinterpret_cast<uintptr_t>(from) + page - 1) & ~(page - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(from) + length) & ~(page - 1);
    if (end > start)
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}

} // namespace quendle
