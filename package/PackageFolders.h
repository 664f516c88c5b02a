#pragma once
#include <string_view>

namespace quendle {

class AppV5Package;

// Whole folders at once. Each file goes through the same file operation, metadata and content
// types as Add-File or Del-File would give it; the console gets one line per folder and a count
// instead of the lines of every file.

// Add-Folder: every file below the host folder `sourceFolder` (as SourceFolderScan finds them)
// under `folderPackagePath`. Nothing is added when any of the paths is in the package already
// (142) or when a name cannot be a package path component.
void addFolderCommand(AppV5Package& package, std::string_view folderPackagePath,
                      std::string_view sourceFolder);

// Del-Folder: every file below `folderPackagePath`, the folder's metadata entry with all it
// holds (and the folder entries left empty above it), and the content types no other file uses.
void deleteFolderCommand(AppV5Package& package, std::string_view folderPackagePath);

} // namespace quendle
