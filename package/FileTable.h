#pragma once
#include "archive/ArchivedEntry.h"

#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quendle {

// A path inside the package: backslash separators, no leading or trailing backslash.
using PackagePath = std::string;

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

    // The key under which a package path is looked up.
    static std::string foldKey(std::string_view packagePath);

  private:
    std::list<Entry> entries_;
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

} // namespace quendle
