#include "os/windows/FolderTree.h"

#include "os/windows/WindowsFileSystem.h"

#include <vector>

namespace quendle::foldertree {

namespace {

bool isDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

void makeWritable(const std::wstring& path, DWORD attributes) {
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool isRealFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

} // namespace

bool forEachEntry(const std::wstring& folder, const std::function<void(const WIN32_FIND_DATAW&)>& visit) {
    std::wstring pattern = folder;
    if (!pattern.empty() && !hostpath::isSeparator(pattern.back()))
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    HANDLE find =
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND; // a drive's root without "." entries
    bool ok = true;
    do {
        if (!isDotOrDotDot(data.cFileName))
            visit(data);
    } while (::FindNextFileW(find, &data));
    DWORD err = ::GetLastError();
    if (err != ERROR_NO_MORE_FILES)
        ok = false;
    ::FindClose(find);
    ::SetLastError(ok ? 0 : err);
    return ok;
}

bool deleteEntry(const std::wstring& path) noexcept {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    // A link to a folder is a folder entry itself: RemoveDirectoryW removes the link, not the target.
    const bool folderLink = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folderLink && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        ::SetLastError(ERROR_ACCESS_DENIED); // unlink(2) of a folder
        return false;
    }
    auto remove = [&] { return folderLink ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str()); };
    if (remove())
        return true;
    DWORD err = ::GetLastError();
    if (err != ERROR_ACCESS_DENIED || (attributes & FILE_ATTRIBUTE_READONLY) == 0)
        return false;
    // POSIX lets the folder's owner remove a read-only file; Windows wants the attribute gone first.
    makeWritable(path, attributes);
    if (remove())
        return true;
    err = ::GetLastError();
    ::SetFileAttributesW(path.c_str(), attributes);
    ::SetLastError(err);
    return false;
}

void emptyFolder(const std::wstring& folder, const wchar_t* keepName, bool deleteFiles) noexcept {
    DWORD savedError = ::GetLastError();
    try {
        // Children are named through the prefixed form, so that no depth meets MAX_PATH.
        std::wstring root = hostpath::prefixedPath(folder);
        if (root.empty())
            return;
        // Folders in the order found: a folder always comes after its parent, so removing them
        // from the back empties each before its parent is tried.
        std::vector<std::wstring> folders;
        std::vector<std::wstring> pending{root};
        while (!pending.empty()) {
            std::wstring current = std::move(pending.back());
            pending.pop_back();
            const bool top = current.size() == root.size();
            (void)forEachEntry(current, [&](const WIN32_FIND_DATAW& entry) {
                if (top && keepName && ::lstrcmpiW(entry.cFileName, keepName) == 0)
                    return;
                std::wstring path = current + L'\\' + entry.cFileName;
                if (isRealFolder(entry.dwFileAttributes)) {
                    makeWritable(path, entry.dwFileAttributes);
                    pending.push_back(path);
                    folders.push_back(std::move(path));
                } else if (deleteFiles) {
                    (void)deleteEntry(path);
                }
            });
        }
        for (auto it = folders.rbegin(); it != folders.rend(); ++it)
            ::RemoveDirectoryW(it->c_str());
    } catch (...) {
        // Clean-up is best effort: running out of memory leaves the rest in place.
    }
    ::SetLastError(savedError);
}

void removeAt(const std::wstring& parent, const wchar_t* name, const wchar_t* keepLast) noexcept {
    DWORD savedError = ::GetLastError();
    try {
        std::wstring path = hostpath::prefixedPath(parent);
        if (path.empty())
            return;
        path += L'\\';
        path += name;
        DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && isRealFolder(attributes)) {
            makeWritable(path, attributes);
            emptyFolder(path, keepLast, true);
            if (keepLast)
                (void)deleteEntry(path + L'\\' + keepLast);
            ::RemoveDirectoryW(path.c_str());
        } else if (attributes != INVALID_FILE_ATTRIBUTES) {
            (void)deleteEntry(path);
        }
    } catch (...) {
    }
    ::SetLastError(savedError);
}

void removeAt(const std::wstring& path) noexcept {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash + 1 >= path.size())
        return;
    try {
        removeAt(path.substr(0, slash), path.substr(slash + 1).c_str());
    } catch (...) {
    }
}

std::wstring pathOfHandle(void* handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length + 1); // too small: the length asked for includes the terminator
    }
    return {};
}

} // namespace quendle::foldertree
