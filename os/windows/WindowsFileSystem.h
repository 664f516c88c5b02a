#pragma once
#include <string>
#include <string_view>

#include <windows.h>

namespace quendle::hostpath {

// Every share mode: other programs (and other handles of this one) may read, write, rename and
// delete a file while it is open, as on POSIX.
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// UTF-8 and UTF-16; text that is not valid UTF-8 gives an empty string (and ERROR_NO_UNICODE_TRANSLATION).
std::wstring widen(std::string_view text);
std::string narrow(std::wstring_view text);
bool isSeparator(wchar_t c);

// The form handed to the W functions: "\" separators, and a long absolute path with the "\\?\"
// prefix (made absolute first, since the prefix turns off the system's own resolving). Empty
// for a path that is empty, holds a NUL or is not UTF-8.
std::wstring nativePath(std::string_view path);
// The same with the prefix on every absolute path, for paths built from it component by component.
std::wstring prefixedPath(std::wstring_view path);

// CreateFileW through the confinement rules of FileSystem.h: below the confined folder every
// folder on the way is held open and must not be a reparse point, and the last component is
// opened as itself (a link is refused). `flags` are CreateFileW's flags and attributes.
// INVALID_HANDLE_VALUE with the last error set when it fails.
HANDLE openFile(std::string_view path, DWORD access, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL);

// Seconds since 1970 (UTC) for a FILETIME.
long long unixTimeOf(const FILETIME& time);

} // namespace quendle::hostpath
