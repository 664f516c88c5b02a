#include "os/FileSystem.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include "core/Exception.h"
#include "core/SystemError.h"
#include "os/FileHandle.h"
#include "os/SystemError.h"
#include "os/windows/FolderTree.h"
#include "util/strings/MessageFormat.h"

#include <vector>

namespace quendle {
namespace hostpath {

std::wstring widen(std::string_view text) {
    if (text.empty())
        return {};
    int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                  nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(),
                          n);
    return out;
}

std::string narrow(std::wstring_view text) {
    if (text.empty())
        return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                  nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                          nullptr);
    return out;
}

bool isSeparator(wchar_t c) {
    return c == L'/' || c == L'\\';
}

long long unixTimeOf(const FILETIME& time) {
    ULARGE_INTEGER t;
    t.LowPart = time.dwLowDateTime;
    t.HighPart = time.dwHighDateTime;
    constexpr unsigned long long EpochDifference = 116444736000000000ULL; // 1601 to 1970 in 100 ns
    return static_cast<long long>((t.QuadPart - EpochDifference) / 10000000ULL);
}

namespace {

// Below this length every W function takes a plain path; CreateDirectoryW stops 12 short of MAX_PATH.
constexpr size_t PlainPathLimit = MAX_PATH - 12;

bool alreadyPrefixed(std::wstring_view path) {
    return path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\");
}

std::wstring fullPathOf(const std::wstring& path) {
    DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return {};
    std::wstring out(n, L'\0');
    n = ::GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
    out.resize(n);
    return out;
}

std::wstring withSeparators(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

// A path with a NUL inside names nothing: the system would see only its first part.
bool usable(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

} // namespace

std::wstring prefixedPath(std::wstring_view path) {
    std::wstring wide(path);
    if (alreadyPrefixed(wide))
        return wide;
    std::wstring full = fullPathOf(withSeparators(std::move(wide)));
    if (full.empty())
        return {};
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring nativePath(std::string_view path) {
    if (!usable(path)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return {};
    }
    std::wstring wide = widen(path);
    if (wide.empty()) {
        ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return {};
    }
    if (alreadyPrefixed(wide))
        return wide;
    wide = withSeparators(std::move(wide));
    return wide.size() < PlainPathLimit ? wide : prefixedPath(wide);
}

namespace {

// The confined folder as the callers spell it (wide, "\" separators) and in its prefixed form.
std::wstring confinedText;
std::wstring confinedPrefixed;

bool equalIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool isReparsePoint(HANDLE h, DWORD* attributes = nullptr) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info))
        return false;
    if (attributes)
        *attributes = info.dwFileAttributes;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The native path of the last component of a path and, below the confined folder, the folders on
// the way, held open without FILE_SHARE_DELETE so that none can be swapped for a link until the
// operation is done.
struct ResolvedPath {
    std::wstring path;
    bool confined = false;
    bool ok = false;
    std::vector<HANDLE> held;
    ResolvedPath() = default;
    ResolvedPath(const ResolvedPath&) = delete;
    ResolvedPath& operator=(const ResolvedPath&) = delete;
    ~ResolvedPath() {
        for (HANDLE h : held)
            ::CloseHandle(h);
    }
};

void resolve(std::string_view path, ResolvedPath& out) {
    std::wstring wide = nativePath(path);
    if (wide.empty())
        return;
    std::wstring text = withSeparators(widen(path));
    if (confinedText.empty() || text.size() <= confinedText.size() || text[confinedText.size()] != L'\\' ||
        !equalIgnoringCase(std::wstring_view(text).substr(0, confinedText.size()), confinedText)) {
        out.path = std::move(wide);
        out.ok = true;
        return;
    }
    out.confined = true;
    std::vector<std::wstring> components;
    for (size_t start = confinedText.size() + 1; start <= text.size();) {
        size_t end = text.find(L'\\', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring part = text.substr(start, end - start);
        if (part == L"..") {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return;
        }
        if (!part.empty() && part != L".")
            components.push_back(std::move(part));
        start = end + 1;
    }
    std::wstring current = confinedPrefixed;
    for (size_t k = 0; k < components.size(); ++k) {
        current += L'\\';
        current += components[k];
        if (k + 1 == components.size())
            break;
        HANDLE h = ::CreateFileW(current.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return;
        out.held.push_back(h);
        DWORD attributes = 0;
        if (isReparsePoint(h, &attributes)) {
            ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
            return;
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            ::SetLastError(ERROR_PATH_NOT_FOUND);
            return;
        }
    }
    out.path = std::move(current);
    out.ok = true;
}

// Attributes and size of what the path names; outside the confined folder a link is followed.
bool attributesOf(std::string_view path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    ResolvedPath r;
    resolve(path, r);
    if (!r.ok || !::GetFileAttributesExW(r.path.c_str(), GetFileExInfoStandard, &data))
        return false;
    if (r.confined || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return true;
    HANDLE h = ::CreateFileW(r.path.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    data.dwFileAttributes = info.dwFileAttributes;
    data.nFileSizeHigh = info.nFileSizeHigh;
    data.nFileSizeLow = info.nFileSizeLow;
    data.ftLastWriteTime = info.ftLastWriteTime;
    return ok;
}

} // namespace

HANDLE openFile(std::string_view path, DWORD access, DWORD disposition, DWORD flags) {
    ResolvedPath r;
    resolve(path, r);
    if (!r.ok)
        return INVALID_HANDLE_VALUE;
    // CREATE_ALWAYS would drop the file's attributes and open a link below the workspace before
    // it could be refused: the file is opened, checked, then emptied.
    const bool truncate = disposition == CREATE_ALWAYS;
    if (truncate)
        disposition = OPEN_ALWAYS;
    if (r.confined)
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE h = ::CreateFileW(r.path.c_str(), access, ShareAll, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    if (r.confined && isReparsePoint(h)) {
        ::CloseHandle(h);
        ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return INVALID_HANDLE_VALUE;
    }
    if (truncate && !::SetEndOfFile(h)) {
        DWORD err = ::GetLastError();
        ::CloseHandle(h);
        ::SetLastError(err);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

std::string toLongPath(std::string_view path) {
    if (!usable(path) || path.size() < PlainPathLimit)
        return std::string(path);
    std::wstring native = nativePath(path);
    return native.empty() ? std::string(path) : narrow(native);
}

std::string normalizePath(std::string_view path) {
    std::string out(path);
    auto isRoot = [&] { return out.size() == 3 && out[1] == ':'; }; // "C:\" keeps its separator
    while (out.size() > 1 && (out.back() == '/' || out.back() == '\\') && !isRoot())
        out.pop_back();
    return out;
}

std::string joinPath(std::string_view folder, std::string_view component) {
    auto separator = [](char c) { return c == '/' || c == '\\'; };
    while (!component.empty() && separator(component.front()))
        component.remove_prefix(1);
    while (!component.empty() && separator(component.back()))
        component.remove_suffix(1);
    std::string out(folder);
    if (component.empty())
        return out;
    if (!out.empty() && !separator(out.back()))
        out += Separator;
    out += component;
    return out;
}

std::string fileNameOf(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string folderOf(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string_view::npos)
        return {};
    // The root keeps its separator: "\" and "C:\".
    if (slash == 0 || (slash == 2 && path[1] == ':'))
        return std::string(path.substr(0, slash + 1));
    return std::string(path.substr(0, slash));
}

std::string absolutePath(std::string_view path) {
    std::wstring wide = widen(path);
    if (wide.empty() || alreadyPrefixed(wide))
        return normalizePath(path);
    std::wstring full = fullPathOf(withSeparators(std::move(wide)));
    return full.empty() ? normalizePath(path) : normalizePath(narrow(full));
}

std::string executablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return narrow(buffer);
        }
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string tempFolderPath() {
    wchar_t buffer[MAX_PATH + 2];
    DWORD n = ::GetTempPathW(MAX_PATH + 2, buffer);
    if (n == 0 || n > MAX_PATH + 1)
        return normalizePath(absolutePath("."));
    return normalizePath(narrow(std::wstring_view(buffer, n)));
}

void confineBelow(const std::string& folder, const FileHandle& folderHandle) {
    (void)folderHandle; // each operation holds the folders below it open itself
    std::string normalized = normalizePath(folder);
    confinedText = normalized.empty() ? std::wstring() : withSeparators(widen(normalized));
    confinedPrefixed = confinedText.empty() ? std::wstring() : prefixedPath(confinedText);
    if (confinedPrefixed.empty())
        confinedText.clear();
}

void endConfinement() {
    confinedText.clear();
    confinedPrefixed.clear();
}

bool renameFile(std::string_view from, std::string_view to) {
    ResolvedPath a, b;
    resolve(from, a);
    if (!a.ok)
        return false;
    resolve(to, b);
    return b.ok && ::MoveFileExW(a.path.c_str(), b.path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool pathExists(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return attributesOf(path, data);
}

bool fileExists(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return attributesOf(path, data) &&
           (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool folderExists(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return attributesOf(path, data) &&
           (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               FILE_ATTRIBUTE_DIRECTORY;
}

uint64_t fileSize(std::string_view path) {
    if (!usable(path))
        throw WindowsException(win32::InvalidName);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!attributesOf(path, data))
        SystemError::last().raise();
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string readSmallFile(std::string_view path, uint64_t maxBytes) {
    if (!usable(path))
        throw WindowsException(win32::InvalidName);
    // Without backup semantics a folder is refused with ERROR_ACCESS_DENIED, as POSIX reports it.
    FileHandle file = NativeHandle::adopt(openFile(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file)
        SystemError::last().raise();
    std::string out;
    char buf[65536];
    for (;;) {
        long n = file.readSome(buf, sizeof buf);
        if (n < 0)
            SystemError::last().raise();
        if (n == 0)
            break;
        // The size is checked while reading: the file may grow.
        if (out.size() + static_cast<uint64_t>(n) > maxBytes)
            throw Exception(formatMessageId(Msg::FileTooLargeToRead, {std::string(path)}));
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::vector<std::string> folderEntries(std::string_view folder) {
    std::vector<std::string> names;
    ResolvedPath r;
    resolve(folder, r);
    if (!r.ok)
        return names;
    if (r.confined) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!::GetFileAttributesExW(r.path.c_str(), GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return names;
    }
    foldertree::forEachEntry(r.path, [&](const WIN32_FIND_DATAW& entry) { names.push_back(narrow(entry.cFileName)); });
    return names;
}

bool createFolder(std::string_view path) {
    ResolvedPath r;
    resolve(path, r);
    if (!r.ok)
        return false;
    if (::CreateDirectoryW(r.path.c_str(), nullptr))
        return true;
    DWORD err = ::GetLastError();
    if (err == ERROR_ALREADY_EXISTS && folderExists(path))
        return true;
    ::SetLastError(err);
    return false;
}

bool deleteFile(std::string_view path) {
    ResolvedPath r;
    resolve(path, r);
    return r.ok && foldertree::deleteEntry(r.path);
}

bool removeFolder(std::string_view path) {
    ResolvedPath r;
    resolve(path, r);
    return r.ok && ::RemoveDirectoryW(r.path.c_str()) != 0;
}

void deleteFolderTree(std::string_view folder, bool deleteFiles) {
    ResolvedPath r;
    resolve(folder, r);
    if (!r.ok)
        return;
    DWORD attributes = ::GetFileAttributesW(r.path.c_str());
    // A link in the place of the folder is never followed.
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return;
    foldertree::emptyFolder(r.path, nullptr, deleteFiles);
}

} // namespace hostpath

} // namespace quendle
