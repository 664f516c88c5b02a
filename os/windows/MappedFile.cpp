#include "os/MappedFile.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include "os/FileHandle.h"
#include "os/FileSystem.h"

namespace quendle {

MappedFile::~MappedFile() {
    if (data_)
        ::UnmapViewOfFile(data_);
}

MappedFile::Result MappedFile::open(const std::string& path) {
    FileHandle file = NativeHandle::adopt(
        hostpath::openFile(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS));
    if (!file)
        return OpenFailed;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handleOf(file), &info))
        return OpenFailed;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || ::GetFileType(handleOf(file)) != FILE_TYPE_DISK) {
        ::SetLastError(NO_ERROR);
        return NotAFile;
    }
    // The size comes from the file system, not from the file's contents, and bounds every read.
    const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size == 0)
        return Opened; // a mapping of an empty file is refused
    HANDLE mapping = ::CreateFileMappingW(handleOf(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping)
        return MapFailed;
    // The view keeps the mapping and the file alive after both handles are closed.
    void* p = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    const DWORD err = ::GetLastError();
    ::CloseHandle(mapping);
    if (!p) {
        ::SetLastError(err);
        return MapFailed;
    }
    size_ = static_cast<size_t>(size);
    data_ = static_cast<const uint8_t*>(p);
    return Opened;
}

void MappedFile::release(const uint8_t* from, size_t length) const {
    static const uintptr_t page = [] {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return static_cast<uintptr_t>(info.dwPageSize);
    }();
    uintptr_t start = (reinterpret_cast<uintptr_t>(from) + page - 1) & ~(page - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(from) + length) & ~(page - 1);
    // Unlocking pages that were never locked takes them out of the working set (and fails with
    // ERROR_NOT_LOCKED, which is expected); a clean file page is then read again when touched.
    if (end > start) {
        const DWORD saved = ::GetLastError();
        ::VirtualUnlock(reinterpret_cast<void*>(start), end - start);
        ::SetLastError(saved);
    }
}

} // namespace quendle
