#include "core/SystemError.h"

#include <cerrno>
#include <cstdio>
#include <iterator>

namespace quendle {
namespace {

struct ErrorText {
    uint32_t code;
    const char* text;
};

// The English system texts of the codes the program can raise.
const ErrorText errorTexts[] = {
    {0, "The operation completed successfully."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {11, "An attempt was made to load a program with an incorrect format."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {17, "The system cannot move the file to a different disk drive."},
    {19, "The media is write protected."},
    {32, "The process cannot access the file because it is being used by another process."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {1004, "Invalid flags."},
    {1009, "The configuration registry database is corrupt."},
    {1015, "The registry is corrupted. The structure of one of the files containing registry data is corrupted, "
           "or the system's memory image of the file is corrupted, or the file could not be recovered because "
           "the alternate copy or log was absent or corrupted."},
    {1016, "An I/O operation initiated by the registry failed unrecoverably. The registry could not read in, or "
           "write out, or flush, one of the files that contain the system's image of the registry."},
    {1017, "The system has attempted to load or restore a file into the registry, but the specified file is not "
           "in a registry file format."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1021, "Cannot create a stable subkey under a volatile parent key."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1392, "The file or directory is corrupted and unreadable."},
};

const char* findText(uint32_t code) {
    for (const auto& e : errorTexts) {
        if (e.code == code)
            return e.text;
    }
    return nullptr;
}

} // namespace

std::string windowsErrorText(uint32_t code) {
    if (const char* t = findText(code))
        return t;
    char buf[96];
    std::snprintf(buf, sizeof buf, "Failed to get Windows error message [win32 error 0x%x].", code);
    return buf;
}

std::string GetSystemErrorText(uint32_t code) {
    if (const char* t = findText(code))
        return std::string(t) + "\n";
    return std::to_string(static_cast<int32_t>(code));
}

uint32_t win32ErrorFromErrno(int err) {
    switch (err) {
    case 0: return win32::Success;
    case ENOENT: return win32::FileNotFound;
    case ENOTDIR: return win32::PathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return win32::AccessDenied;
    case EROFS: return win32::WriteProtect;
#ifdef EDQUOT // not in the Windows C runtime
    case EDQUOT:
#endif
    case ENOSPC: return win32::DiskFull;
    // The process's file-size limit (ulimit -f) or the file system's largest file.
    case EFBIG: return win32::FileTooLarge;
    case EEXIST: return win32::FileExists;
    case ENAMETOOLONG: return win32::FilenameExceedRange;
    case EMFILE:
    case ENFILE: return win32::TooManyOpenFiles;
    case ENOMEM: return win32::NotEnoughMemory;
    case EBUSY:
    case ETXTBSY: return win32::SharingViolation;
    case EINVAL: return win32::InvalidParameter;
    case ENOTEMPTY: return win32::DirNotEmpty;
    case EXDEV: return win32::NotSameDevice;
    case EBADF: return win32::InvalidHandle;
    case EPIPE: return win32::BrokenPipe;
    case ELOOP: return win32::InvalidName;
    default: return win32::IoDevice;
    }
}

std::string errnoText(int err) {
    return windowsErrorText(win32ErrorFromErrno(err));
}

} // namespace quendle
