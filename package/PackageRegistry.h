#pragma once
#include "hive/OfflineRegHive.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quendle {

// App-V markers in the upper bits of a stored value type.
namespace appvtype {
constexpr uint32_t KeyDeleted = 0x10000;    // on a key's default value: the key is deleted
constexpr uint32_t ValueDeleted = 0x20000;  // on a named value: the value is deleted
constexpr uint32_t KeyOverwrite = 0x40000;  // on a key's default value: level overwrite
constexpr uint32_t PathVariable = 0x400000; // the value text holds App-V path variables
} // namespace appvtype

// The package's virtual registry: "Registry.dat" of the workspace, opened on the first
// operation and written back by save(). Each operation prints its green change line and then
// reports the change through the callback given at construction (the package marks itself
// modified there). Key paths are relative to the hive's root key, e.g. REGISTRY\MACHINE\Software.
class PackageRegistry {
  public:
    // `location` is the hive file, or the content folder holding "Registry.dat" (its name
    // matched ignoring case, as on Windows).
    explicit PackageRegistry(std::string location, std::function<void()> onChange = {});

    void SetRegistryKey(const std::string& keyPath, bool merge, bool overwrite, bool deleted);
    void SetRegistryValue(const std::string& keyPath, const std::string& valueName, uint32_t valueType,
                          const std::string& valueText, bool pathVariable);
    void SetVirtualizeRegValueDeleted(const std::string& keyPath, const std::string& valueName);
    void DeleteRegistryValue(const std::string& keyPath, const std::string& valueName);
    void DeleteRegistryKey(const std::string& keyPath);
    void DeleteRegistryKeyTree(const std::string& keyPath);

    // Replaces the hive file with the edited hive; nothing happens when the hive was never opened.
    void save();
    bool isOpen() const { return hive_.isOpen(); }
    // The open hive, opened now if needed.
    OfflineRegHive& hive();
    const std::string& hivePath() const { return path_; }

    // The check of the command handlers: after trimming leading and trailing backslashes, at
    // least two components, "REGISTRY" then "MACHINE" or "USER" (ignoring case).
    static bool isValidKeyPath(const std::string& keyPath);
    // Raises message 177 for an invalid key path.
    static void checkKeyPath(const std::string& keyPath);
    // "-type" text to value type, exact comparison: sz 1, expandsz 2, dword 4, multisz 7,
    // binary 3, anything else 0.
    static uint32_t valueTypeFromText(const std::string& text);

  private:
    void changed(std::string_view line);

    std::string path_;
    std::function<void()> onChange_;
    OfflineRegHive hive_;
};

} // namespace quendle
