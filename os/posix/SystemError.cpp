#include "os/SystemError.h"

#include "core/Exception.h"
#include "core/SystemError.h"

#include <cerrno>

namespace quendle {
namespace {

uint32_t win32ErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return win32::Success;
    case ENOENT:
        return win32::FileNotFound;
    case ENOTDIR:
        return win32::PathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
        return win32::AccessDenied;
    case EROFS:
        return win32::WriteProtect;
    case ENOSPC:
    case EDQUOT:
        return win32::DiskFull;
    // The process's file-size limit (ulimit -f) or the file system's largest file.
    case EFBIG:
        return win32::FileTooLarge;
    case EEXIST:
        return win32::FileExists;
    case ENAMETOOLONG:
        return win32::FilenameExceedRange;
    case EMFILE:
    case ENFILE:
        return win32::TooManyOpenFiles;
    case ENOMEM:
        return win32::NotEnoughMemory;
    case EBUSY:
    case ETXTBSY:
        return win32::SharingViolation;
    case EINVAL:
        return win32::InvalidParameter;
    case ENOTEMPTY:
        return win32::DirNotEmpty;
    case EXDEV:
        return win32::NotSameDevice;
    case EBADF:
        return win32::InvalidHandle;
    case EPIPE:
        return win32::BrokenPipe;
    case ELOOP:
        return win32::InvalidName;
    default:
        return win32::IoDevice;
    }
}

} // namespace

SystemError SystemError::last() {
    return SystemError(static_cast<uint32_t>(errno));
}

SystemError SystemError::alreadyExists() {
    return SystemError(EEXIST);
}

void SystemError::clear() {
    errno = 0;
}

SystemError::Kind SystemError::kind() const {
    switch (static_cast<int>(code_)) {
    case 0:
        return Kind::None;
    case ENOENT:
        return Kind::NotFound;
    case EEXIST:
        return Kind::AlreadyExists;
    case EISDIR:
        return Kind::IsFolder;
    case ENOSPC:
    case EDQUOT:
        return Kind::NoSpace;
    default:
        return Kind::Other;
    }
}

uint32_t SystemError::win32Code() const {
    return win32ErrorFromErrno(static_cast<int>(code_));
}

// errno's own texts would differ from one C library to the next; the Win32 text it maps onto
// is the same everywhere.
std::string SystemError::text() const {
    return windowsErrorText(win32Code());
}

void SystemError::raise(std::source_location where) const {
    throw WindowsException(win32Code(), where);
}

} // namespace quendle
