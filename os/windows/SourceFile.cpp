#include "os/SourceFile.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include "os/FileSystem.h"

namespace quendle {

SourceFile::~SourceFile() = default;

bool SourceFile::open(const std::string& path) {
    // Backup semantics so that a folder opens too and is refused below with its own reason.
    NativeHandle::reset(fd_, hostpath::openFile(path, GENERIC_READ, OPEN_EXISTING,
                                                FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS));
    if (!fd_)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handleOf(fd_), &info)) {
        fd_.reset();
        return false;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || ::GetFileType(handleOf(fd_)) != FILE_TYPE_DISK) {
        // Say why, or the caller would report the error of some earlier call.
        const DWORD err = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_DIRECTORY
                                                                                  : ERROR_INVALID_PARAMETER;
        fd_.reset();
        ::SetLastError(err);
        return false;
    }
    size_ = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    modified_ = static_cast<std::time_t>(hostpath::unixTimeOf(info.ftLastWriteTime));
    return true;
}

} // namespace quendle
