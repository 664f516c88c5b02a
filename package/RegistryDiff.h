#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

class HiveTree;

// One difference between two virtual registries: a key (its virtualization level) or a value
// (its type, App-V flags and data) added, removed or changed.
struct RegistryChange {
    enum class Kind { Added, Removed, Changed };
    struct State {
        std::string level; // a key's: "merge", "overwrite" or "deleted"
        uint32_t type = 0; // a value's type as stored, without the key's level bits
        std::vector<uint8_t> data;
    };
    Kind kind = Kind::Added;
    std::string key; // below the hive's root: REGISTRY\MACHINE\...
    bool isValue = false;
    std::string value; // the value's name; "" for the default value
    State before, after;

    // "REG_SZ", "REG_DWORD", ...; "0x..." for a type without a name.
    static std::string typeName(uint32_t type);
    // The App-V markers of a value type: "deleted", "pathvariable", and any other upper bits in hex.
    static std::vector<std::string> flagNames(uint32_t type);
    // Strings as text, a DWORD or QWORD in decimal, a multi-string's strings one per line, any
    // other data as hexadecimal pairs.
    static std::string dataText(uint32_t type, const std::vector<uint8_t>& data);
};

// Walks both trees side by side, matching keys and values by name as the registry does
// (ignoring case). Everything in a key that only one side has is listed. Either tree may be null.
std::vector<RegistryChange> diffRegistry(const HiveTree* before, const HiveTree* after);

} // namespace quendle
