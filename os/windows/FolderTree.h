#pragma once
#include <functional>
#include <string>

#include <windows.h>

namespace quendle::foldertree {

// Folder trees on Windows, by native path (hostpath::nativePath). A reparse point (symbolic
// link, junction) is removed as itself and never entered; read-only entries are made writable
// first. Failures are ignored; what cannot be removed stays.

// Calls `visit` for every entry of the folder but "." and ".."; false (the last error set) when
// the folder cannot be read. An empty folder is true.
bool forEachEntry(const std::wstring& folder, const std::function<void(const WIN32_FIND_DATAW&)>& visit);

// Deletes a file or a link (a link to a folder too); false with the last error set.
bool deleteEntry(const std::wstring& path) noexcept;

// Removes everything below the folder except an entry named `keepName` at its top level: the
// files too when `deleteFiles`, else only the folders that are (then) empty.
void emptyFolder(const std::wstring& folder, const wchar_t* keepName = nullptr,
                 bool deleteFiles = true) noexcept;

// Removes the entry `name` of the folder `parent`: a file, a link, or a whole tree. When
// `keepLast` is given, that top-level entry of the tree goes only after everything else.
void removeAt(const std::wstring& parent, const wchar_t* name, const wchar_t* keepLast = nullptr) noexcept;
// The same for a whole path.
void removeAt(const std::wstring& path) noexcept;

// The full path of an open file or folder ("\\?\C:\..."); empty when the system does not tell.
std::wstring pathOfHandle(void* handle);

} // namespace quendle::foldertree
