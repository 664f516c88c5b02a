#include "os/FileHandle.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include "os/FileSystem.h"

#include <algorithm>
#include <winternl.h>

extern "C" NTSTATUS NTAPI NtReadFile(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                     PLARGE_INTEGER, PULONG);

namespace quendle {

namespace {

// ReadFile and WriteFile count in DWORDs; larger requests go in pieces.
constexpr size_t Piece = 1u << 30;

constexpr NTSTATUS EndOfFile = static_cast<NTSTATUS>(0xC0000011);

bool isFolder(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The end of a pipe whose writer has gone is the end of its data, as for a read(2) that gives 0.
bool isEndOfData(DWORD err) {
    return err == ERROR_HANDLE_EOF || err == ERROR_BROKEN_PIPE;
}

} // namespace

void FileHandle::reset() {
    if (*this)
        ::CloseHandle(NativeHandle::release(*this));
}

bool FileHandle::close() {
    if (!*this) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ::CloseHandle(NativeHandle::release(*this)) != 0;
}

FileHandle FileHandle::openForReading(const std::string& path) {
    // Backup semantics let a folder be opened too, as open(2) does; reading it then fails.
    return NativeHandle::adopt(
        hostpath::openFile(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS));
}

FileHandle FileHandle::openForReadingAnyKind(const std::string& path) {
    // A named pipe (\\.\pipe\name) opens at once when it has a server, and fails when it has
    // none: opening never waits. Without backup semantics a folder is refused.
    std::wstring native = hostpath::nativePath(path);
    if (native.empty())
        return FileHandle();
    FileHandle file = NativeHandle::adopt(::CreateFileW(native.c_str(), GENERIC_READ, hostpath::ShareAll, nullptr,
                                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file && isFolder(handleOf(file)))
        return FileHandle();
    return file;
}

std::pair<uint64_t, uint64_t> FileHandle::fileIdentity() const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!*this || !::GetFileInformationByHandle(handleOf(*this), &info))
        return {0, 0};
    return {info.dwVolumeSerialNumber, (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

FileHandle FileHandle::createNew(const std::string& path) {
    return NativeHandle::adopt(hostpath::openFile(path, GENERIC_WRITE, CREATE_NEW));
}

FileHandle FileHandle::createOrTruncate(const std::string& path) {
    return NativeHandle::adopt(hostpath::openFile(path, GENERIC_WRITE, CREATE_ALWAYS));
}

FileHandle FileHandle::openForAppending(const std::string& path) {
    // Append-only access: every write goes to the end, whoever else writes to the file.
    return NativeHandle::adopt(hostpath::openFile(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS));
}

long FileHandle::readSome(void* buffer, size_t length) {
    DWORD n = 0;
    if (::ReadFile(handleOf(*this), buffer, static_cast<DWORD>(std::min(length, Piece)), &n, nullptr))
        return static_cast<long>(n);
    return isEndOfData(::GetLastError()) ? 0 : -1;
}

long FileHandle::readAt(void* buffer, size_t length, uint64_t offset) const {
    // NtReadFile rather than ReadFile with an OVERLAPPED: given one, ReadFile also queues a
    // completion for the handle, which under Wine is a server round trip for every block read.
    // Either way the read moves the file position, unlike pread: a handle read this way is never
    // read sequentially as well.
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    const NTSTATUS status = ::NtReadFile(handleOf(*this), nullptr, nullptr, nullptr, &io, buffer,
                                         static_cast<ULONG>(std::min(length, Piece)), &at, nullptr);
    if (status >= 0)
        return static_cast<long>(io.Information);
    if (status == EndOfFile)
        return 0;
    ::SetLastError(::RtlNtStatusToDosError(status));
    return -1;
}

bool FileHandle::regularFileSize(uint64_t& size) const {
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD type = ::GetFileType(handleOf(*this));
    if (type != FILE_TYPE_DISK) {
        // A pipe or a console is no regular file, and no error either.
        if (type != FILE_TYPE_UNKNOWN || ::GetLastError() == NO_ERROR)
            ::SetLastError(NO_ERROR);
        return false;
    }
    if (!::GetFileInformationByHandle(handleOf(*this), &info))
        return false;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ::SetLastError(NO_ERROR);
        return false;
    }
    size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

bool FileHandle::writeAll(const void* data, size_t length) {
    if (!*this) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const auto* p = static_cast<const char*>(data);
    while (length > 0) {
        DWORD n = 0;
        if (!::WriteFile(handleOf(*this), p, static_cast<DWORD>(std::min(length, Piece)), &n, nullptr))
            return false;
        if (n == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        p += n;
        length -= n;
    }
    return true;
}

bool FileHandle::readExact(void* buffer, size_t length) {
    if (!*this) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    auto* p = static_cast<char*>(buffer);
    while (length > 0) {
        long n = readSome(p, length);
        if (n <= 0) {
            if (n == 0)
                ::SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace quendle
