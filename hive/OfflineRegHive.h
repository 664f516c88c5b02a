#pragma once
#include "hive/OfflineRegKey.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quendle {

class HiveTree;

// An offline registry hive: read from its file through a mapping (memory follows the keys and
// values it holds, not its size), edited in memory, written anew by Save.
// The file on disk changes only through Save. Failures raise OfflineRegException carrying the
// system's text for the Win32 error (2 for a missing key or value, 5 for deleting a key with
// subkeys, 183 when the save target exists, 1009/1015 for a damaged hive file).
class OfflineRegHive {
  public:
    OfflineRegHive();
    ~OfflineRegHive();
    OfflineRegHive(OfflineRegHive&&) noexcept;
    OfflineRegHive& operator=(OfflineRegHive&&) noexcept;

    void Open(const std::string& path);
    // The tree of a hive image held in memory (read-only inspection). A damaged image raises
    // Exception with HiveUnreadable and the reason, so that no engine error leaves this layer.
    static std::shared_ptr<HiveTree> ReadImage(std::span<const uint8_t> image);
    // A new hive with only its root key (named `rootName`), in format 1.minorVersion.
    void CreateNew(const std::string& rootName, uint32_t minorVersion = 3);
    // Writes the hive to `path`, which must not exist, in the format version it was read with.
    void Save(const std::string& path) const;
    void Close();
    bool isOpen() const { return tree_ != nullptr; }

    // Removes a key without subkeys, with its values.
    void DeleteKey(const std::string& keyPath);
    // Removes a key and every key below it, deepest first.
    void DeleteKeyTree(const std::string& keyPath);
    OfflineRegKey RootKey() const;
    // 3 for format 1.3, 5 for 1.5, ...
    uint32_t formatMinorVersion() const;

  private:
    const std::shared_ptr<HiveTree>& tree() const;

    std::shared_ptr<HiveTree> tree_;
};

} // namespace quendle
