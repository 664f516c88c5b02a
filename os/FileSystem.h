#pragma once
#include "os/FileHandle.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

// Two kinds of path never mix: a host path names a file on this machine (native "/"
// separators), a package path names an entry inside a package (always "\" separators).
// Each kind has its own namespace so that the call site says which one it means.

namespace hostpath {

constexpr char Separator = '/';

// The form a path takes before it is handed to the file system; Linux needs no long-path prefix.
std::string toLongPath(std::string_view path);
// Removes trailing separators, but keeps the "/" of an absolute path ("/" stays "/").
std::string normalizePath(std::string_view path);
// folder + "/" + component, the component without leading or trailing separators; an empty
// component leaves the folder unchanged.
std::string joinPath(std::string_view folder, std::string_view component);
// The text after the last "/"; a path without one is returned whole.
std::string fileNameOf(std::string_view path);
// The folder part: the text before the last "/" ("/" for a file in the root, "" without any).
std::string folderOf(std::string_view path);
// Relative paths are taken against the current directory; "." and ".." components are resolved
// lexically (symbolic links are not followed).
std::string absolutePath(std::string_view path);
// $TMPDIR when set and non-empty, else /tmp; never ends with a separator.
std::string tempFolderPath();
// The full path of the running program; empty when the system does not tell.
std::string executablePath();

// Any file-system object at the path (a file, a folder, ...), like a Windows existence check.
bool pathExists(std::string_view path);
bool fileExists(std::string_view path);
bool folderExists(std::string_view path);
uint64_t fileSize(std::string_view path); // throws WindowsException

// The whole content of a file that is known to be small; a larger file is refused with an
// Exception rather than read. Open and read failures raise WindowsException.
std::string readSmallFile(std::string_view path, uint64_t maxBytes = 16u << 20);

// The names in a folder, without "." and ".."; empty when it cannot be read.
std::vector<std::string> folderEntries(std::string_view folder);

// Every path below the confined folder is reached through its open descriptor, one component at
// a time, never following a symbolic link: a link planted in the workspace leads nowhere. Other
// paths longer than the system's limit are reached the same way (following links, as a plain
// call would), so no path operation depends on the depth of a tree. `folderHandle` stays owned
// by the caller and open until endConfinement.
void confineBelow(const std::string& folder, const FileHandle& folderHandle);
void endConfinement();

// rename(2) through the rules above; false (SystemError::last() tells why).
bool renameFile(std::string_view from, std::string_view to);

// Creates the folder (one level); false when it cannot be made (an existing folder is success).
bool createFolder(std::string_view path);
// Deletes a file or an empty folder; failures are ignored and reported only by the result.
bool deleteFile(std::string_view path);
bool removeFolder(std::string_view path);
// Deletes everything below the folder: sub-folders always (once they are empty), files only when
// deleteFiles is true; read-only entries are made writable first. Symbolic links are removed as
// links, never followed. The folder itself stays. Never raises.
void deleteFolderTree(std::string_view folder, bool deleteFiles);

} // namespace hostpath

} // namespace quendle
