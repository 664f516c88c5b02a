#include "os/TempFileTracker.h"

#include "os/FileSystem.h"

#include <dirent.h>
#include <fnmatch.h>
#include <memory>
#include <sys/stat.h>

namespace quendle {
namespace {

void deleteMatches(const std::string& pattern) {
    std::string folder = hostpath::folderOf(pattern);
    std::string name = hostpath::fileNameOf(pattern);
    struct DirCloser {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir)
        return;
    std::vector<std::string> matches;
    while (dirent* e = ::readdir(dir.get())) {
        std::string entry = e->d_name;
        if (entry == "." || entry == ".." || ::fnmatch(name.c_str(), entry.c_str(), FNM_PERIOD) != 0)
            continue;
        std::string full = folder.empty() ? entry : hostpath::joinPath(folder, entry);
        struct stat st;
        if (::lstat(full.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
            matches.push_back(std::move(full));
    }
    dir.reset();
    for (const auto& m : matches)
        hostpath::deleteFile(m);
}

} // namespace

TempFileTracker::~TempFileTracker() {
    cleanUp();
}

void TempFileTracker::addFile(std::string path) {
    files_.push_back(std::move(path));
}

void TempFileTracker::addFolder(std::string path) {
    folders_.push_back(std::move(path));
}

void TempFileTracker::addFolderTree(std::string path) {
    folderTrees_.push_back(std::move(path));
}

void TempFileTracker::deleteFiles() noexcept {
    try {
        for (const auto& f : files_) {
            if (hostpath::fileNameOf(f).find('*') != std::string::npos)
                deleteMatches(f);
            else
                hostpath::deleteFile(f);
        }
    } catch (...) {
        // Clean-up is best effort: an allocation failure here must not hide the run's outcome.
    }
    files_.clear();
}

void TempFileTracker::cleanUp() noexcept {
    deleteFiles();
    for (const auto& f : folders_)
        hostpath::removeFolder(f);
    folders_.clear();
    try {
        for (const auto& f : folderTrees_) {
            hostpath::deleteFolderTree(f, true);
            hostpath::removeFolder(f);
        }
    } catch (...) {
    }
    folderTrees_.clear();
}

} // namespace quendle
