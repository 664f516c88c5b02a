#pragma once
#include "os/FileHandle.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

// The folder an archive is extracted into. Every path below it is reached one component at a
// time relative to an open folder, never following a symbolic link, so that neither a hostile
// name nor a link planted inside the folder can lead a write outside it.
class ExtractDestination {
  public:
    // Creates the folder (with its parents) if needed and opens it; false (SystemError::last() tells why).
    bool open(const std::string& folder);
    // The folder already open as `folderHandle` (kept by the caller), named `folder` in reports.
    bool open(const std::string& folder, const FileHandle& folderHandle);
    const std::string& folder() const { return folder_; }

    bool createFolders(const std::vector<std::string>& components);
    // A new empty file for writing; an existing file of that name is replaced. Invalid on failure.
    FileHandle createFile(const std::vector<std::string>& components);
    void removeFile(const std::vector<std::string>& components);
    // Host path of a relative path (for reporting and for the list of extracted files).
    std::string hostPath(const std::vector<std::string>& components) const;
    // Bytes that unprivileged writers may still use on the folder's file system; UINT64_MAX
    // when the file system does not say.
    uint64_t availableBytes() const;

  private:
    // The folder holding the last component, creating missing folders when `create`.
    FileHandle openParent(const std::vector<std::string>& components, bool create);

    std::string folder_;
    FileHandle root_;
};

// Splits an entry name (already decoded, either separator) into its components. False when the
// name is absolute, starts with a drive letter or contains a ".." component; `isFolder` when it
// ends with a separator.
bool splitEntryName(const std::string& name, std::vector<std::string>& components, bool& isFolder);

} // namespace quendle
