#include "os/windows/FolderTree.h"

#include <cwchar>
#include <windows.h>

namespace quendle::foldertree {
namespace {

bool isDotEntry(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

void removeEntry(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A junction or a folder link goes as a link; only a real folder is emptied first.
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            emptyFolder(path);
        RemoveDirectoryW(path.c_str());
    } else {
        DeleteFileW(path.c_str());
    }
}

} // namespace

void emptyFolder(const std::wstring& folder, const wchar_t* keep) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (isDotEntry(entry.cFileName) || (keep && std::wcscmp(entry.cFileName, keep) == 0))
            continue;
        removeEntry(folder + L"\\" + entry.cFileName, entry.dwFileAttributes);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

void removeAt(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        removeEntry(path, attributes);
}

std::wstring pathOfHandle(void* handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
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
