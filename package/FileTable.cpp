#include "package/FileTable.h"

#include "util/strings/StringSystem.h"

namespace quendle {

std::string FileTable::foldKey(std::string_view name) {
    return foldCase(name);
}

std::optional<FileTable::Position> FileTable::findPosition(const PackagePath& packagePath) const {
    auto found = index_.find(std::string_view(packagePath.key()));
    if (found == index_.end())
        return std::nullopt;
    return *found;
}

bool FileTable::insert(const PackagePath& packagePath, const std::string& sourcePath) {
    if (contains(packagePath))
        return false;
    index_.insert(entries_.insert(entries_.end(), Entry{packagePath, sourcePath, std::nullopt}));
    return true;
}

bool FileTable::insertArchived(const PackagePath& packagePath, ArchivedEntry archived) {
    if (contains(packagePath))
        return false;
    index_.insert(entries_.insert(entries_.end(), Entry{packagePath, {}, std::move(archived)}));
    return true;
}

bool FileTable::replaceSource(const PackagePath& packagePath, const std::string& sourcePath) {
    std::optional<Position> found = findPosition(packagePath);
    if (!found)
        return false;
    (*found)->sourcePath = sourcePath;
    (*found)->archived.reset();
    return true;
}

ArchivedEntry* FileTable::archivedEntry(const PackagePath& packagePath) {
    std::optional<Position> found = findPosition(packagePath);
    if (!found || !(*found)->archived)
        return nullptr;
    return &*(*found)->archived;
}

bool FileTable::erase(const PackagePath& packagePath) {
    std::optional<Position> found = findPosition(packagePath);
    if (!found)
        return false;
    index_.erase(*found);
    entries_.erase(*found);
    return true;
}

bool FileTable::contains(const PackagePath& packagePath) const {
    return findPosition(packagePath).has_value();
}

const FileTable::Entry* FileTable::find(const PackagePath& packagePath) const {
    std::optional<Position> found = findPosition(packagePath);
    return found ? &**found : nullptr;
}

void FileTable::clear() {
    index_.clear();
    entries_.clear();
}

} // namespace quendle
