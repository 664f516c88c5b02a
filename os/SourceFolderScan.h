#pragma once
#include <string>
#include <vector>

namespace quendle {

// The files of a host folder, for adding a whole folder to a package. Names are visited in
// byte order, so the same folder always gives the same list. Hidden (dot) files are files like
// any other. A symbolic link is followed only when its target lies inside the scanned folder;
// links that leave it, dangling links, links back into a folder being visited and special files
// (devices, pipes, sockets) are reported as skipped. Empty folders give nothing.
class SourceFolderScan {
  public:
    struct File {
        std::vector<std::string> components; // relative to the scanned folder
        std::string hostPath;                // where the bytes are read from
    };
    enum class SkipReason { OutsideFolder, BrokenLink, LinkLoop, SpecialFile };
    struct Skipped {
        std::string hostPath;
        SkipReason reason;
    };

    // Raises WindowsException when the folder, or a folder below it, cannot be read.
    explicit SourceFolderScan(const std::string& folder);

    const std::vector<File>& files() const { return files_; }
    const std::vector<Skipped>& skipped() const { return skipped_; }

  private:
    void visit(const std::string& folder, std::vector<std::string>& components,
               std::vector<std::string>& visiting);

    std::string root_; // resolved, without a trailing separator
    std::vector<File> files_;
    std::vector<Skipped> skipped_;
};

} // namespace quendle
