#include "os/AtomicFileReplacement.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include "os/FileSystem.h"
#include "os/SignalCleanup.h"
#include "os/StaleLeftovers.h"

#include <cstdio>
#include <random>

namespace quendle {

AtomicFileReplacement::AtomicFileReplacement(std::string targetPath, std::string failureText)
    : target_(hostpath::absolutePath(targetPath)), failureText_(std::move(failureText)) {}

AtomicFileReplacement::~AtomicFileReplacement() {
    fd_.reset();
    if (!temporary_.empty()) {
        ::DeleteFileW(hostpath::nativePath(temporary_).c_str());
        SignalCleanup::forgetFile();
    }
}

namespace {

HANDLE openTemporary(const std::string& path, DWORD disposition) {
    return hostpath::openFile(path, GENERIC_READ | GENERIC_WRITE, disposition);
}

} // namespace

void AtomicFileReplacement::createTemporary() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
        std::string name =
            hostpath::joinPath(hostpath::folderOf(target_), "." + hostpath::fileNameOf(target_) + suffix);
        // Watched before it exists, so that Ctrl+C at any point cannot leave it behind.
        SignalCleanup::watchFile(name);
        NativeHandle::reset(fd_, openTemporary(name, CREATE_NEW));
        if (fd_) {
            temporary_ = std::move(name);
            // Held until the replace, so that a later run can tell a temporary of a killed run.
            if (!StaleLeftovers::lockTemporary(fd_))
                fail();
            return;
        }
        SystemError why = SystemError::last();
        SignalCleanup::forgetFile();
        if (why.kind() != SystemError::Kind::AlreadyExists)
            fail(why);
    }
    fail(SystemError::alreadyExists());
}

void AtomicFileReplacement::fillFrom(const std::string& sourcePath) {
    // Windows will not move a file over one that is open, so the lock lets go for the move; the
    // package lock keeps other runs away from this target meanwhile. Across volumes the system
    // copies.
    fd_.reset();
    if (!::MoveFileExW(hostpath::nativePath(sourcePath).c_str(), hostpath::nativePath(temporary_).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        fail();
    NativeHandle::reset(fd_, openTemporary(temporary_, OPEN_EXISTING));
    if (!fd_ || !StaleLeftovers::lockTemporary(fd_))
        fail();
}

void AtomicFileReplacement::commit() {
    if (!::FlushFileBuffers(handleOf(fd_)))
        fail();
    if (!fd_.close())
        fail();
    const std::wstring target = hostpath::nativePath(target_);
    const std::wstring temporary = hostpath::nativePath(temporary_);
    // A target another program holds without delete sharing cannot be replaced: asked first, so
    // that the replace never stops half-way (Wine's then leaves a stray "rf*.tmp" beside it).
    if (!NativeHandle::adopt(::CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) &&
        ::GetLastError() == ERROR_SHARING_VIOLATION)
        fail();
    // ReplaceFileW keeps what the old file had beyond its bytes (attributes, security, creation
    // time); a target that does not exist yet is a plain move.
    bool replaced = ::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                   REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    if (!replaced && ::GetLastError() == ERROR_FILE_NOT_FOUND)
        replaced = ::MoveFileExW(temporary.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced)
        fail();
    temporary_.clear();
    SignalCleanup::forgetFile();
}

void AtomicFileReplacement::checkWritable() {
    // A replace would go through over a read-only target, so the attribute is checked first.
    DWORD attributes = ::GetFileAttributesW(hostpath::nativePath(target_).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        fail();
    }
}

} // namespace quendle
