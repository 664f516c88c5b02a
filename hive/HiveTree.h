#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

struct HiveValue {
    std::u16string name; // empty for the key's default value
    uint32_t type = 0;   // all 32 bits as stored
    std::vector<uint8_t> data;
};

// One key of a hive held in memory. Subkeys stay sorted by name ignoring case, the order the
// format's subkey lists need.
struct HiveKey {
    std::u16string name;
    std::vector<uint8_t> className; // UTF-16LE bytes as stored
    uint64_t lastWrite = 0;         // FILETIME
    uint16_t flags = 0;             // as stored, without the compressed-name flag
    uint32_t accessBits = 0;
    uint32_t layeredFlags = 0; // upper half of the longest-subkey-name field (format 1.5 and later)
    int security = -1;         // index into HiveTree::securityDescriptors; -1 takes the parent's
    std::vector<HiveValue> values;
    std::vector<std::shared_ptr<HiveKey>> subkeys;
    HiveKey* parent = nullptr;
    bool deleted = false;

    // The subkey of that name ignoring case, or nullptr.
    std::shared_ptr<HiveKey> findSubkey(std::u16string_view subkeyName) const;
    // Where a subkey of that name is or would go.
    size_t subkeyPosition(std::u16string_view subkeyName) const;
    HiveValue* findValue(std::u16string_view valueName);
};

// A whole hive: the key tree, the security descriptors the keys refer to, and the base block
// fields that a save keeps (format version, file name, reserved fields).
class HiveTree {
  public:
    static constexpr uint32_t DefaultMinorVersion = 3;

    // A hive with only a root key, the default security descriptor, format 1.minorVersion.
    static std::shared_ptr<HiveTree> createEmpty(std::u16string_view rootName,
                                                 uint32_t minorVersion = DefaultMinorVersion);

    uint32_t minorVersion() const { return minorVersion_; }
    void setMinorVersion(uint32_t minor) { minorVersion_ = minor; }
    std::array<uint8_t, 4096>& baseBlock() { return baseBlock_; }
    const std::array<uint8_t, 4096>& baseBlock() const { return baseBlock_; }
    std::vector<std::vector<uint8_t>>& securityDescriptors() { return securityDescriptors_; }
    const std::vector<std::vector<uint8_t>>& securityDescriptors() const { return securityDescriptors_; }
    const std::shared_ptr<HiveKey>& root() const { return root_; }
    void setRoot(std::shared_ptr<HiveKey> root) { root_ = std::move(root); }

    // The operations below return a Win32 error number (0 on success), as the offline registry
    // library does, and leave the tree unchanged when they fail.
    uint32_t createSubkey(HiveKey& parent, std::u16string_view name, std::shared_ptr<HiveKey>& out);
    uint32_t openSubkey(const HiveKey& parent, std::u16string_view name, std::shared_ptr<HiveKey>& out) const;
    uint32_t setValue(HiveKey& key, std::u16string_view name, uint32_t type, std::span<const uint8_t> data);
    uint32_t deleteValue(HiveKey& key, std::u16string_view name);
    // Removes a key without subkeys, with its values.
    uint32_t deleteKey(HiveKey& key);

    // The longest value data this hive's format version can store.
    uint64_t maxValueSize() const;
    // The security descriptor a new hive's keys get: owner Administrators, group SYSTEM, full
    // control for SYSTEM and Administrators, read for Users, inherited by subkeys.
    static std::vector<uint8_t> defaultSecurityDescriptor();
    // Now, as a FILETIME.
    static uint64_t now();

  private:
    uint32_t minorVersion_ = DefaultMinorVersion;
    std::array<uint8_t, 4096> baseBlock_{};
    std::vector<std::vector<uint8_t>> securityDescriptors_;
    std::shared_ptr<HiveKey> root_;
};

} // namespace quendle
