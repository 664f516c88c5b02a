#include "os/StationInfo.h"
#include "os/windows/WindowsFileSystem.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>
#include <windows.h>

namespace quendle {
namespace {

// The Windows values come from fixed-size buffers of MAX_PATH characters.
constexpr size_t MaxPathCharacters = 260;

std::string environment(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value ? hostpath::narrow(value) : std::string();
}

std::string decimal(long long value) {
    return std::to_string(value);
}

std::string computerName() {
    std::string name = environment(L"COMPUTERNAME");
    if (!name.empty())
        return name;
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameExW(ComputerNameNetBIOS, buffer, &size) ? hostpath::narrow(buffer) : std::string();
}

// A folder the system reports into a MAX_PATH buffer; empty when it does not fit.
template <typename Query> std::string systemPath(Query query) {
    wchar_t buffer[MaxPathCharacters + 1] = {};
    UINT length = query(buffer, static_cast<UINT>(MaxPathCharacters));
    return length > 0 && length < MaxPathCharacters ? hostpath::narrow(std::wstring_view(buffer, length)) : std::string();
}

// A string of a file's version resource ("ProductVersion", "FileVersion"), in the first
// language and code page its translation table lists.
std::string versionString(const std::wstring& file, const wchar_t* name) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data()))
        return {};
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length < sizeof(Translation))
        return {};
    wchar_t block[128];
    std::swprintf(block, sizeof block / sizeof block[0], L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
                  translation->codePage, name);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(data.data(), block, reinterpret_cast<void**>(&value), &length) || !value)
        return {};
    return hostpath::narrow(std::wstring_view(value, wcsnlen(value, length)));
}

std::string withBackslash(std::string folder) {
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder;
}

// The version as the kernel reports it, not as the manifest-less compatibility shim of
// GetVersionEx would.
bool kernelVersion(RTL_OSVERSIONINFOEXW& version) {
    using RtlGetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOEXW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto get = ntdll ? reinterpret_cast<RtlGetVersionFunction>(
                           reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")))
                     : nullptr;
    version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return get && get(&version) == 0 &&
           (version.dwMajorVersion != 0 || version.dwMinorVersion != 0 || version.dwBuildNumber != 0);
}

// 1 for a workstation, 2 for a domain controller, 3 for a server.
std::string productType() {
    RTL_OSVERSIONINFOEXW version;
    if (!kernelVersion(version))
        return {};
    switch (version.wProductType) {
    case VER_NT_WORKSTATION:
        return "1";
    case VER_NT_SERVER:
        return "3";
    default:
        return "2";
    }
}

std::string processorText() {
    std::string count = environment(L"NUMBER_OF_PROCESSORS");
    if (count.empty()) {
        SYSTEM_INFO system{};
        GetNativeSystemInfo(&system);
        count = decimal(system.dwNumberOfProcessors);
    }
    return count + " X " + environment(L"PROCESSOR_IDENTIFIER");
}

std::string registryString(HKEY root, const wchar_t* key, const wchar_t* name) {
    wchar_t buffer[512] = {};
    DWORD size = sizeof buffer - sizeof buffer[0];
    if (RegGetValueW(root, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return {};
    return hostpath::narrow(buffer);
}

// The greatest "FileVersion" of the mscorlib.dll of each installed .NET Framework runtime.
std::string newestNetFramework() {
    HMODULE mscoree = LoadLibraryW(L"mscoree.dll");
    if (!mscoree)
        return {};
    using RuntimeInfoFunction = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, DWORD, LPWSTR, DWORD, DWORD*,
                                                 LPWSTR, DWORD, DWORD*);
    auto runtimeInfo = reinterpret_cast<RuntimeInfoFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(mscoree, "GetRequestedRuntimeInfo")));
    std::string best;
    std::string root = registryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\.NETFramework", L"InstallRoot");
    if (GetProcAddress(mscoree, "GetCORVersion") && runtimeInfo && !root.empty()) {
        std::wstring folder = hostpath::widen(withBackslash(root));
        UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
        for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &entry)) {
            wchar_t directory[MAX_PATH], version[64];
            DWORD directoryLength = 0, versionLength = 0;
            if (FAILED(runtimeInfo(nullptr, entry.cFileName, nullptr, 0, 0, directory, MAX_PATH, &directoryLength,
                                   version, 64, &versionLength)))
                continue;
            std::string found = versionString(folder + entry.cFileName + L"\\mscorlib.dll", L"FileVersion");
            if (found > best)
                best = found;
        }
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
        SetErrorMode(previousMode);
    }
    FreeLibrary(mscoree);
    return best;
}

// "64" on a 64-bit Windows, whether this process runs natively or under WOW64.
std::string bitness() {
    BOOL wow64 = FALSE;
    using IsWow64Function = BOOL(WINAPI*)(HANDLE, BOOL*);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    auto isWow64 = kernel32 ? reinterpret_cast<IsWow64Function>(
                                  reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "IsWow64Process")))
                            : nullptr;
    if (isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64)
        return "64";
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    const WORD architecture = system.wProcessorArchitecture;
    return architecture == PROCESSOR_ARCHITECTURE_AMD64 || architecture == PROCESSOR_ARCHITECTURE_ARM64 ||
                   architecture == PROCESSOR_ARCHITECTURE_IA64
               ? "64"
               : "32";
}

std::string systemLocale() {
    wchar_t buffer[LOCALE_NAME_MAX_LENGTH] = {};
    if (GetSystemDefaultLocaleName(buffer, LOCALE_NAME_MAX_LENGTH) == 0)
        return {};
    CharLowerW(buffer);
    return hostpath::narrow(buffer);
}

} // namespace

std::string stationUserName() {
    const std::string domain = environment(L"USERDOMAIN");
    std::string user = environment(L"USERNAME");
    // Services often run without USERNAME; the account name is what it would say.
    if (user.empty()) {
        wchar_t buffer[257] = {};
        DWORD size = 257;
        if (GetUserNameW(buffer, &size))
            user = hostpath::narrow(buffer);
    }
    return domain.empty() ? user : domain + "\\" + user;
}

StationInfo StationInfo::query() {
    StationInfo info;
    info.time = formatStationTime(std::chrono::system_clock::now());
    info.sequencerUser = stationUserName();
    info.sequencingStation = computerName();
    info.systemFolder = systemPath(GetSystemDirectoryW);
    info.windowsFolder = systemPath(GetWindowsDirectoryW);
    if (!info.systemFolder.empty())
        info.windowsVersion =
            versionString(hostpath::widen(withBackslash(info.systemFolder) + "kernel32.dll"), L"ProductVersion");
    info.userFolder = environment(L"USERPROFILE");
    if (info.userFolder.size() >= MaxPathCharacters)
        info.userFolder.clear();
    info.systemType = productType();
    info.processor = processorText();
    info.lastRebootNormal = decimal(GetSystemMetrics(SM_CLEANBOOT));
    info.terminalServices = decimal(GetSystemMetrics(SM_REMOTECONTROL));
    info.remoteSession = decimal(GetSystemMetrics(SM_REMOTESESSION));
    info.netFrameworkVersion = newestNetFramework();
    info.ieVersion = registryString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", L"Version");
    info.osBitness = bitness();
    info.locale = systemLocale();
    return info;
}

} // namespace quendle
