#include "package/FileTable.h"

#include "util/strings/StringSystem.h"

namespace quendle {

std::string FileTable::foldKey(std::string_view packagePath) {
    return foldCase(packagePath);
}

bool FileTable::insert(const PackagePath& packagePath, const std::string& sourcePath) {
    std::string key = foldKey(packagePath);
    if (index_.count(key))
        return false;
    auto it = entries_.insert(entries_.end(), Entry{packagePath, sourcePath, std::nullopt});
    index_.emplace(std::move(key), it);
    return true;
}

bool FileTable::insertArchived(const PackagePath& packagePath, ArchivedEntry archived) {
    std::string key = foldKey(packagePath);
    if (index_.count(key))
        return false;
    auto it = entries_.insert(entries_.end(), Entry{packagePath, {}, std::move(archived)});
    index_.emplace(std::move(key), it);
    return true;
}

bool FileTable::replaceSource(const PackagePath& packagePath, const std::string& sourcePath) {
    auto found = index_.find(foldKey(packagePath));
    if (found == index_.end())
        return false;
    found->second->sourcePath = sourcePath;
    found->second->archived.reset();
    return true;
}

ArchivedEntry* FileTable::archivedEntry(const PackagePath& packagePath) {
    auto found = index_.find(foldKey(packagePath));
    if (found == index_.end() || !found->second->archived)
        return nullptr;
    return &*found->second->archived;
}

bool FileTable::erase(const PackagePath& packagePath) {
    auto found = index_.find(foldKey(packagePath));
    if (found == index_.end())
        return false;
    entries_.erase(found->second);
    index_.erase(found);
    return true;
}

bool FileTable::contains(const PackagePath& packagePath) const {
    return index_.count(foldKey(packagePath)) != 0;
}

const FileTable::Entry* FileTable::find(const PackagePath& packagePath) const {
    auto found = index_.find(foldKey(packagePath));
    return found == index_.end() ? nullptr : &*found->second;
}

void FileTable::clear() {
    index_.clear();
    entries_.clear();
}

} // namespace quendle
