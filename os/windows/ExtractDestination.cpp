#include "os/ExtractDestination.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include "os/FileSystem.h"
#include "os/windows/FolderTree.h"

namespace quendle {

namespace {

// A name Windows would read as something else: a stream ("a:b"), a wildcard, a device path
// character. Under the "\\?\" prefix device names and trailing dots are taken as they are.
bool validComponent(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..")
        return false;
    for (wchar_t c : name)
        if (c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' ||
            c == L'*' || c == L'/' || c == L'\\')
            return false;
    return true;
}

// mkdir -p for the destination itself, which the caller chose and may contain links.
bool makeFolders(const std::string& folder) {
    std::wstring native = hostpath::nativePath(folder);
    if (native.empty())
        return false;
    DWORD attributes = ::GetFileAttributesW(native.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return true;
        ::SetLastError(ERROR_DIRECTORY);
        return false;
    }
    std::string parent = hostpath::folderOf(folder);
    if (!parent.empty() && parent.size() < folder.size() && !makeFolders(parent))
        return false;
    return ::CreateDirectoryW(native.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

// The folder holding the last component, and the folders from the destination down to it, held
// open without FILE_SHARE_DELETE: none can be renamed or swapped for a link while it is used.
struct Parent {
    std::wstring path;
    std::vector<FileHandle> held;
    bool ok = false;
};

std::wstring rootPathOf(const FileHandle& root, const std::string& folder) {
    // The folder the handle holds, even if it was renamed since.
    wchar_t buffer[32768];
    DWORD n = ::GetFinalPathNameByHandleW(handleOf(root), buffer, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n > 0 && n < 32768)
        return std::wstring(buffer, n);
    return hostpath::prefixedPath(hostpath::widen(folder));
}

HANDLE openFolderItself(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        ::CloseHandle(h);
        ::SetLastError(link ? ERROR_CANT_RESOLVE_FILENAME : ERROR_DIRECTORY);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// Wide components, every one checked; false (ERROR_INVALID_NAME) when one is not a plain name.
bool wideComponents(const std::vector<std::string>& components, std::vector<std::wstring>& out) {
    for (const std::string& c : components) {
        out.push_back(hostpath::widen(c));
        if (!validComponent(out.back())) {
            ::SetLastError(ERROR_INVALID_NAME);
            return false;
        }
    }
    return true;
}

Parent openParentOf(const FileHandle& root, const std::string& folder, const std::vector<std::wstring>& names,
                    bool create) {
    Parent parent;
    if (!root) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return parent;
    }
    parent.path = rootPathOf(root, folder);
    for (size_t k = 0; k + 1 < names.size(); ++k) {
        parent.path += L'\\';
        parent.path += names[k];
        HANDLE h = openFolderItself(parent.path);
        if (h == INVALID_HANDLE_VALUE && create && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
            if (!::CreateDirectoryW(parent.path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
                return parent;
            h = openFolderItself(parent.path);
        }
        if (h == INVALID_HANDLE_VALUE)
            return parent;
        parent.held.push_back(NativeHandle::adopt(h));
    }
    parent.ok = true;
    return parent;
}

} // namespace

bool ExtractDestination::open(const std::string& folder) {
    folder_ = hostpath::normalizePath(folder);
    if (folder_.empty() || !makeFolders(folder_))
        return false;
    std::wstring native = hostpath::nativePath(folder_);
    NativeHandle::reset(root_, ::CreateFileW(native.c_str(), FILE_READ_ATTRIBUTES, hostpath::ShareAll, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return static_cast<bool>(root_);
}

bool ExtractDestination::open(const std::string& folder, const FileHandle& folderHandle) {
    folder_ = folder;
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!::DuplicateHandle(::GetCurrentProcess(), handleOf(folderHandle), ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        copy = INVALID_HANDLE_VALUE;
    NativeHandle::reset(root_, copy);
    return static_cast<bool>(root_);
}

bool ExtractDestination::createFolders(const std::vector<std::string>& components) {
    if (components.empty())
        return true;
    std::vector<std::wstring> names;
    if (!wideComponents(components, names))
        return false;
    Parent parent = openParentOf(root_, folder_, names, true);
    if (!parent.ok)
        return false;
    std::wstring path = parent.path + L'\\' + names.back();
    if (::CreateDirectoryW(path.c_str(), nullptr))
        return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    HANDLE existing = openFolderItself(path);
    if (existing == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(existing);
    return true;
}

FileHandle ExtractDestination::createFile(const std::vector<std::string>& components) {
    if (components.empty())
        return FileHandle();
    std::vector<std::wstring> names;
    if (!wideComponents(components, names))
        return FileHandle();
    Parent parent = openParentOf(root_, folder_, names, true);
    if (!parent.ok)
        return FileHandle();
    std::wstring path = parent.path + L'\\' + names.back();
    auto create = [&] {
        return ::CreateFileW(path.c_str(), GENERIC_WRITE, hostpath::ShareAll, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    HANDLE h = create();
    // An existing entry is replaced by deleting it: that removes a link itself, never its target.
    if (h == INVALID_HANDLE_VALUE && (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS) &&
        foldertree::deleteEntry(path))
        h = create();
    return NativeHandle::adopt(h);
}

void ExtractDestination::removeFile(const std::vector<std::string>& components) {
    if (components.empty())
        return;
    std::vector<std::wstring> names;
    if (!wideComponents(components, names))
        return;
    Parent parent = openParentOf(root_, folder_, names, false);
    if (parent.ok)
        (void)foldertree::deleteEntry(parent.path + L'\\' + names.back());
}

std::string ExtractDestination::hostPath(const std::vector<std::string>& components) const {
    std::string path = folder_;
    for (const std::string& c : components)
        path = hostpath::joinPath(path, c);
    return path;
}

uint64_t ExtractDestination::availableBytes() const {
    if (!root_)
        return UINT64_MAX;
    std::wstring path = rootPathOf(root_, folder_);
    if (path.empty())
        return UINT64_MAX;
    if (!hostpath::isSeparator(path.back()))
        path += L'\\';
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr))
        return UINT64_MAX;
    return available.QuadPart;
}

} // namespace quendle
