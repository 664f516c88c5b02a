#pragma once
#include <string>

namespace quendle::foldertree {

// The helpers of the Windows bodies that delete folder trees by wide path. Reparse points
// (junctions, symbolic links) are removed themselves, never followed; read-only files are made
// writable first. Failures are ignored: what cannot go now is left for the next run's sweep.

// Deletes everything inside `folder` but its entry `keep` (may be nullptr).
void emptyFolder(const std::wstring& folder, const wchar_t* keep = nullptr);
// Deletes `path` and, when it is a folder, everything below it.
void removeAt(const std::wstring& path);
// The full path of an open file or folder ("\\?\C:\..."); empty when the system does not tell.
std::wstring pathOfHandle(void* handle);

} // namespace quendle::foldertree
