#include "os/SourceFolderScan.h"

#include "core/Exception.h"
#include "core/SystemError.h"
#include "os/FileSystem.h"
#include "os/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace quendle {
namespace {

std::string resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

bool isInside(const std::string& path, const std::string& root) {
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            (root == "/" || path[root.size()] == '/'));
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

std::vector<std::string> sortedNames(const std::string& folder) {
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir)
        SystemError::last().raise();
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    if (errno != 0)
        SystemError::last().raise();
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

SourceFolderScan::SourceFolderScan(const std::string& folder) {
    root_ = resolved(hostpath::toLongPath(folder));
    struct stat info {};
    if (root_.empty() || stat(root_.c_str(), &info) != 0)
        SystemError::last().raise();
    if (!S_ISDIR(info.st_mode))
        throw WindowsException(win32::Directory);
    std::vector<std::string> components;
    std::vector<std::string> visiting{root_};
    visit(root_, components, visiting);
}

void SourceFolderScan::visit(const std::string& folder, std::vector<std::string>& components,
                             std::vector<std::string>& visiting) {
    for (const std::string& name : sortedNames(folder)) {
        const std::string path = hostpath::joinPath(folder, name);
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0)
            SystemError::last().raise();
        std::string target = path;
        if (S_ISLNK(info.st_mode)) {
            target = resolved(path);
            if (target.empty() || stat(target.c_str(), &info) != 0) {
                skipped_.push_back({path, SkipReason::BrokenLink});
                continue;
            }
            if (!isInside(target, root_)) {
                skipped_.push_back({path, SkipReason::OutsideFolder});
                continue;
            }
        }
        if (S_ISREG(info.st_mode)) {
            components.push_back(name);
            files_.push_back({components, target});
            components.pop_back();
        } else if (S_ISDIR(info.st_mode)) {
            if (std::find(visiting.begin(), visiting.end(), target) != visiting.end()) {
                skipped_.push_back({path, SkipReason::LinkLoop});
                continue;
            }
            components.push_back(name);
            visiting.push_back(target);
            visit(target, components, visiting);
            visiting.pop_back();
            components.pop_back();
        } else {
            skipped_.push_back({path, SkipReason::SpecialFile});
        }
    }
}

} // namespace quendle
