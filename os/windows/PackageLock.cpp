#include "os/PackageLock.h"
#include "os/windows/ByteLock.h"
#include "os/windows/FolderTree.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include <chrono>
#include <thread>
#include <vector>

// windows.h first: the Restart Manager's header builds on it.
#include <windows.h>

#include <restartmanager.h>

namespace quendle {

namespace {

constexpr auto PollInterval = std::chrono::milliseconds(50);

// Others may read, write, rename and replace the package while it is locked: the lock is what
// keeps other runs out, not the share mode (a run replaces the package it holds).
HANDLE openPackage(const std::string& path) {
    return CreateFileW(hostpath::nativePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool identity(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileInformationByHandle(file, &info) != 0;
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// The processes the Restart Manager finds using the file, this one left out; a Quendle run first.
std::string holderOf(const std::wstring& path) {
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (RmStartSession(&session, 0, key) != ERROR_SUCCESS)
        return {};
    std::string found;
    LPCWSTR files[] = {path.c_str()};
    UINT needed = 0, count = 0;
    DWORD reasons = 0;
    std::vector<RM_PROCESS_INFO> processes;
    if (RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        DWORD status = ERROR_MORE_DATA;
        for (int attempt = 0; attempt < 3 && status == ERROR_MORE_DATA; ++attempt) {
            processes.resize(needed + 4);
            count = static_cast<UINT>(processes.size());
            status = RmGetList(session, &needed, &count, processes.data(), &reasons);
        }
        if (status != ERROR_SUCCESS)
            count = 0;
    }
    RmEndSession(session);
    const DWORD self = GetCurrentProcessId();
    for (UINT i = 0; i < count; ++i) {
        const RM_PROCESS_INFO& process = processes[i];
        if (process.Process.dwProcessId == self)
            continue;
        std::string name = hostpath::narrow(process.strAppName);
        std::string text = "process " + std::to_string(process.Process.dwProcessId) +
                           (name.empty() ? "" : " (" + name + ")");
        bool quendle = name.rfind("quendle", 0) == 0 || name.rfind("Quendle", 0) == 0;
        if (found.empty() || quendle)
            found = text;
        if (quendle)
            break;
    }
    return found;
}

} // namespace

std::string PackageLock::describeHolder(const FileHandle& file) {
    std::wstring path = foldertree::pathOfHandle(handleOf(file));
    std::string holder = path.empty() ? std::string() : holderOf(path);
    return holder.empty() ? "process id unknown" : holder;
}

bool PackageLock::acquire(const std::string& path, int timeoutSeconds, const WaitNotice& onWait,
                          std::string& holder) {
    holder.clear();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool noticed = false;
    for (;;) {
        FileHandle file = NativeHandle::adopt(openPackage(path));
        if (!file)
            return false;
        while (!bytelock::lock(handleOf(file), false)) {
            if (GetLastError() != ERROR_LOCK_VIOLATION)
                return false;
            if (std::chrono::steady_clock::now() >= deadline) {
                holder = describeHolder(file);
                return false;
            }
            if (!noticed && onWait) {
                noticed = true;
                onWait(describeHolder(file));
            }
            std::this_thread::sleep_for(PollInterval);
        }
        // Locked; but if the other run has put a new package in place meanwhile, that is the
        // one to work on.
        BY_HANDLE_FILE_INFORMATION locked{}, current{};
        FileHandle now = NativeHandle::adopt(openPackage(path));
        if (now && identity(handleOf(file), locked) && identity(handleOf(now), current) && !sameFile(locked, current))
            continue;
        fd_ = std::move(file);
        return true;
    }
}

FileHandle PackageLock::unlockAndTake() {
    if (fd_)
        bytelock::unlock(handleOf(fd_));
    return std::move(fd_);
}

} // namespace quendle
