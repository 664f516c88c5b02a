#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quendle {

class HiveTree;
struct HiveKey;

// A handle to one key of an open offline hive. Handles are cheap to copy and keep their hive
// alive; a handle whose key was deleted fails with error 1018. Paths are relative to this key,
// with components separated by "\" (empty components are skipped). Names compare ignoring case.
// A default-constructed handle is not open: every operation on it raises message 5670.
class OfflineRegKey {
  public:
    OfflineRegKey() = default;
    OfflineRegKey(std::shared_ptr<HiveTree> tree, std::shared_ptr<HiveKey> key);

    bool isOpen() const { return key_ != nullptr; }
    void Close();

    // Creates the missing levels of `relativePath` and returns the last one.
    OfflineRegKey Create(const std::string& relativePath) const;
    // Opens `relativePath`; a missing level raises error 2.
    OfflineRegKey Open(const std::string& relativePath) const;

    void SetValue(const std::string& name, uint32_t type, std::span<const uint8_t> data);
    void SetValue(const std::string& name, uint32_t type, const void* data, size_t size);
    // False when the value does not exist.
    bool GetValue(const std::string& name, uint32_t& type, std::vector<uint8_t>& data) const;
    bool GetType(const std::string& name, uint32_t& type) const;
    // A missing value raises error 2.
    void DeleteValue(const std::string& name);
    // Subkey names in index order (sorted ignoring case).
    std::vector<std::string> EnumSubkeys() const;
    // Value names in stored order; the default value is "".
    std::vector<std::string> EnumValues() const;
    // Converts `text` by `valueType` and stores it as type valueType | typeFlags.
    void SetValueFromText(const std::string& name, uint32_t valueType, uint32_t typeFlags,
                          const std::string& text);

    // The key's own name.
    std::string Name() const;

  private:
    friend class OfflineRegHive;
    HiveKey& key() const;
    OfflineRegKey walk(const std::string& relativePath, bool create) const;

    std::shared_ptr<HiveTree> tree_;
    std::shared_ptr<HiveKey> key_;
};

} // namespace quendle
