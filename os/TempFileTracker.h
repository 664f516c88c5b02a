#pragma once
#include <string>
#include <vector>

namespace quendle {

// Remembers the temporary files and folders a run leaves behind and removes them when it is
// destroyed: files first, then empty folders, then whole folder trees. Clean-up never raises;
// what cannot be removed is left.
class TempFileTracker {
  public:
    TempFileTracker() = default;
    ~TempFileTracker();
    TempFileTracker(const TempFileTracker&) = delete;
    TempFileTracker& operator=(const TempFileTracker&) = delete;

    // A host path; its file-name part may hold "*" wildcards (only files match, not folders).
    void addFile(std::string path);
    // Removed only when empty by then.
    void addFolder(std::string path);
    // Removed with everything inside it.
    void addFolderTree(std::string path);

    // Deletes the tracked files now (the folders wait for the destructor).
    void deleteFiles() noexcept;
    // Runs the whole clean-up now; the lists are empty afterwards.
    void cleanUp() noexcept;

    const std::vector<std::string>& files() const { return files_; }
    const std::vector<std::string>& folders() const { return folders_; }
    const std::vector<std::string>& folderTrees() const { return folderTrees_; }

  private:
    std::vector<std::string> files_;
    std::vector<std::string> folders_;
    std::vector<std::string> folderTrees_;
};

} // namespace quendle
