#include "os/StaleLeftovers.h"
#include "os/windows/ByteLock.h"
#include "os/windows/FolderTree.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include "os/FileSystem.h"
#include "os/Guid.h"

#include <cwctype>
#include <vector>
#include <windows.h>

namespace quendle {

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What a lock probe opens with: Wine grants an exclusive lock only through a handle that may write.
constexpr DWORD ProbeAccess = GENERIC_READ | GENERIC_WRITE;

// Folders are opened so that they can still be removed (by this run's clean-up on Ctrl+C too)
// while the handle is open; a reparse point is opened as itself.
HANDLE openFolder(const std::wstring& path) {
    return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, ShareAll,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

bool isRealFolder(HANDLE folder) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(folder, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// One of the token's identities (TOKEN_USER or TOKEN_OWNER, both a SID first), as raw bytes.
std::vector<unsigned char> tokenSid(TOKEN_INFORMATION_CLASS which) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, which, nullptr, 0, &size);
    std::vector<unsigned char> info(size);
    if (size == 0 || !GetTokenInformation(token, which, info.data(), size, &size))
        info.clear();
    CloseHandle(token);
    return info;
}

// True when the object at `path` (opened as itself) belongs to this user: its owner is the
// token's owner (what Windows gives new files: the user, or Administrators for an elevated run)
// or the token's user (what Wine gives them).
bool ownedByThisUser(const std::wstring& path) {
    static const std::vector<unsigned char> owner = tokenSid(TokenOwner), user = tokenSid(TokenUser);
    DWORD size = 0;
    GetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION, nullptr, 0, &size);
    if (size == 0)
        return false;
    std::vector<unsigned char> descriptor(size);
    PSID found = nullptr;
    BOOL defaulted = FALSE;
    if (!GetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION, descriptor.data(), size, &size) ||
        !GetSecurityDescriptorOwner(descriptor.data(), &found, &defaulted) || !found)
        return false;
    return (!owner.empty() && EqualSid(found, reinterpret_cast<const TOKEN_OWNER*>(owner.data())->Owner)) ||
           (!user.empty() && EqualSid(found, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid));
}

bool isHex(wchar_t c) {
    return std::iswxdigit(c) != 0;
}

std::wstring join(const std::wstring& folder, const std::wstring& name) {
    return folder + L"\\" + name;
}

// The folder a workspace is in, as the handle names it.
std::wstring tempFolderOf(const StaleLeftovers::WorkspaceHandles& workspace) {
    return workspace.temp ? foldertree::pathOfHandle(handleOf(workspace.temp)) : std::wstring();
}

template <typename Visit> void forEachEntry(const std::wstring& folder, Visit visit) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileExW(join(folder, L"*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            visit(name, entry);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

// True while some handle holds the lock of the file at `path`; a missing file holds none, and
// one that cannot be opened (delete-pending while its run ends) counts as held.
bool lockHeld(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), ProbeAccess, ShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND;
    FileHandle owned = NativeHandle::adopt(file);
    return !bytelock::lock(file, false);
}

// The "{GUID}" of a name that Ctrl+C's clean-up gave a content folder or lock file it moved out;
// empty for any other name.
std::string movedOutStem(const std::string& name, bool& isLock) {
    for (const char* suffix : {StaleLeftovers::MovedContentSuffix, StaleLeftovers::MovedLockSuffix}) {
        const std::string_view end(suffix);
        if (name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0 &&
            isBracedGuidText(name.substr(0, name.size() - end.size()))) {
            isLock = suffix == StaleLeftovers::MovedLockSuffix;
            return name.substr(0, name.size() - end.size());
        }
    }
    return {};
}

// Removes such a moved-out entry once neither its workspace's lock nor the moved lock is held.
bool removeMovedOut(const std::wstring& temp, const std::string& name, const WIN32_FIND_DATAW& entry) {
    bool isLock = false;
    const std::string stem = movedOutStem(name, isLock);
    const bool isFolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    if (stem.empty() || isFolder == isLock || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    const std::wstring path = join(temp, hostpath::widen(name)),
                       workspace = join(temp, hostpath::widen(stem));
    if (!ownedByThisUser(path) || lockHeld(workspace + hostpath::widen(StaleLeftovers::MovedLockSuffix)) ||
        lockHeld(join(workspace, hostpath::widen(StaleLeftovers::LockFileName))))
        return false;
    foldertree::removeAt(path);
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

} // namespace

bool StaleLeftovers::createWorkspace(const std::string& tempFolder, const std::string& name,
                                     WorkspaceHandles& out) {
    out = WorkspaceHandles{};
    NativeHandle::reset(out.temp, openFolder(hostpath::nativePath(tempFolder)));
    if (!out.temp)
        return false;
    // Named by the handle from here on, so that every path below is the one the handle opened.
    const std::wstring temp = tempFolderOf(out);
    const std::wstring folder = join(temp, hostpath::widen(name));
    // Fails on any existing entry of that name, a file or a link as much as a folder. The new
    // folder inherits the temporary folder's permissions (the user's own on Windows).
    if (temp.empty() || !CreateDirectoryW(folder.c_str(), nullptr))
        return false;
    auto failed = [&] {
        DWORD error = GetLastError();
        if (out.folder)
            removeWorkspace(out, name);
        else
            RemoveDirectoryW(folder.c_str());
        SetLastError(error);
        return false;
    };
    NativeHandle::reset(out.folder, openFolder(folder));
    if (!out.folder)
        return failed();
    if (!isRealFolder(handleOf(out.folder))) {
        out.folder.reset();
        SetLastError(ERROR_ALREADY_EXISTS); // not the folder this call made
        return false;
    }
    // Locked under a name no sweep looks at, then renamed: the lock file is never seen unlocked.
    const std::wstring lockPath = join(folder, hostpath::widen(LockFileName));
    const std::wstring pendingLock = lockPath + L".new";
    NativeHandle::reset(out.lock, CreateFileW(pendingLock.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                              ShareAll, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.lock || !bytelock::lock(handleOf(out.lock), true) ||
        !MoveFileExW(pendingLock.c_str(), lockPath.c_str(), 0))
        return failed();
    const std::wstring content = join(folder, hostpath::widen(ContentFolderName));
    if (!CreateDirectoryW(content.c_str(), nullptr))
        return failed();
    NativeHandle::reset(out.content, openFolder(content));
    if (!out.content)
        return failed();
    return true;
}

void StaleLeftovers::removeWorkspace(WorkspaceHandles& workspace, const std::string& name) noexcept {
    if (!workspace.folder)
        return;
    workspace.content.reset();
    const std::wstring temp = tempFolderOf(workspace);
    if (temp.empty()) {
        workspace.folder.reset();
        workspace.lock.reset();
        return;
    }
    const std::wstring folder = join(temp, hostpath::widen(name));
    const std::wstring lockName = hostpath::widen(LockFileName);
    foldertree::emptyFolder(folder, lockName.c_str());
    // The lock file goes when its handle closes (it is still held, so no sweep takes the folder
    // before); whatever appeared meanwhile goes too.
    DeleteFileW(join(folder, lockName).c_str());
    workspace.folder.reset();
    workspace.lock.reset();
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (RemoveDirectoryW(folder.c_str()) || GetLastError() != ERROR_DIR_NOT_EMPTY)
            break;
        foldertree::emptyFolder(folder);
    }
}

int StaleLeftovers::removeAbandonedWorkspaces(const std::string& tempFolder) {
    int removed = 0;
    FileHandle tempHandle = NativeHandle::adopt(openFolder(hostpath::nativePath(tempFolder)));
    if (!tempHandle)
        return 0;
    const std::wstring temp = foldertree::pathOfHandle(handleOf(tempHandle));
    if (temp.empty())
        return 0;
    forEachEntry(temp, [&](const std::wstring& wideName, const WIN32_FIND_DATAW& entry) {
        const std::string name = hostpath::narrow(wideName);
        if (!isBracedGuidText(name)) {
            removed += removeMovedOut(temp, name, entry);
            return;
        }
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return;
        const std::wstring folder = join(temp, wideName);
        WorkspaceHandles found;
        NativeHandle::reset(found.folder, openFolder(folder));
        if (!found.folder || !isRealFolder(handleOf(found.folder)) || !ownedByThisUser(folder))
            return;
        // Without a lock file it is another program's folder, or one being made right now.
        NativeHandle::reset(found.lock, CreateFileW(join(folder, hostpath::widen(LockFileName)).c_str(),
                                                    ProbeAccess, ShareAll, nullptr, OPEN_EXISTING,
                                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!found.lock || !bytelock::lock(handleOf(found.lock), false))
            return;
        NativeHandle::reset(found.temp, openFolder(temp));
        removeWorkspace(found, name);
        ++removed;
    });
    return removed;
}

bool StaleLeftovers::lockTemporary(const FileHandle& file) {
    return bytelock::lock(handleOf(file), false);
}

int StaleLeftovers::removeAbandonedTemporaries(const std::string& target, int minimumAgeSeconds) {
    std::string folderText = hostpath::folderOf(target);
    const std::wstring folder = hostpath::nativePath(folderText.empty() ? "." : folderText);
    const std::wstring prefix = L"." + hostpath::widen(hostpath::fileNameOf(target)) + L".";
    int removed = 0;
    FILETIME nowTime{};
    GetSystemTimeAsFileTime(&nowTime);
    auto ticks = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    const uint64_t now = ticks(nowTime);
    const uint64_t minimumAge = static_cast<uint64_t>(minimumAgeSeconds) * 10'000'000; // 100 ns units
    forEachEntry(folder, [&](const std::wstring& name, const WIN32_FIND_DATAW& entry) {
        if (name.size() != prefix.size() + 8 || name.compare(0, prefix.size(), prefix) != 0)
            return;
        for (size_t i = prefix.size(); i < name.size(); ++i)
            if (!isHex(name[i]))
                return;
        if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            return;
        const uint64_t written = ticks(entry.ftLastWriteTime);
        if (written > now || now - written < minimumAge)
            return;
        const std::wstring path = join(folder, name);
        FileHandle file =
            NativeHandle::adopt(CreateFileW(path.c_str(), ProbeAccess | DELETE, ShareAll, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file || !ownedByThisUser(path) || !bytelock::lock(handleOf(file), false))
            return;
        // Deleted through the handle that holds the lock: no other file of that name can be hit.
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        if (SetFileInformationByHandle(handleOf(file), FileDispositionInfo, &disposition, sizeof disposition))
            ++removed;
    });
    return removed;
}

} // namespace quendle
