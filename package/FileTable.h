#pragma once
#include "archive/ArchivedEntry.h"
#include "package/PackagePath.h"

#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace quendle {

// The package's files: package path -> where the entry's bytes come from: a host file (an added
// or updated file), or the entry of the original archive that no edit has touched. Keys compare
// with the system's case mapping (Unicode lower case), as on the file system the format comes
// from. Iteration follows insertion order, so identical runs pack identical entry orders.
class FileTable {
  public:
    struct Entry {
        PackagePath packagePath; // as first inserted; an update keeps this spelling
        std::string sourcePath;  // empty while the bytes stay in the original archive
        std::optional<ArchivedEntry> archived;
    };
    using const_iterator = std::list<Entry>::const_iterator;

    // False (and no change) when the key is present already.
    bool insert(const PackagePath& packagePath, const std::string& sourcePath);
    // An entry whose bytes stay in the original archive until the save copies them.
    bool insertArchived(const PackagePath& packagePath, ArchivedEntry archived);
    // False when the key is absent. The entry then takes its bytes from the host file.
    bool replaceSource(const PackagePath& packagePath, const std::string& sourcePath);
    // False when the key is absent.
    bool erase(const PackagePath& packagePath);

    bool contains(const PackagePath& packagePath) const;
    // The entry for the key, or nullptr.
    const Entry* find(const PackagePath& packagePath) const;
    // The original archive's entry behind the key, or nullptr (absent, or from a host file).
    ArchivedEntry* archivedEntry(const PackagePath& packagePath);

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    void clear();

    // A name folded as the table folds its keys (PackagePath::key).
    static std::string foldKey(std::string_view name);

  private:
    using Position = std::list<Entry>::iterator;
    // The index holds positions only and folds an entry's path when it hashes or compares it, so
    // that 100,000 paths are not kept a second time as keys.
    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::string_view key) const { return std::hash<std::string_view>()(key); }
        size_t operator()(Position position) const { return (*this)(position->packagePath.key()); }
    };
    struct KeyEqual {
        using is_transparent = void;
        bool operator()(Position a, Position b) const { return a == b; }
        bool operator()(std::string_view key, Position position) const {
            return position->packagePath.key() == key;
        }
        bool operator()(Position position, std::string_view key) const { return (*this)(key, position); }
    };
    std::optional<Position> findPosition(const PackagePath& packagePath) const;

    std::list<Entry> entries_;
    std::unordered_set<Position, KeyHash, KeyEqual> index_;
};

} // namespace quendle
