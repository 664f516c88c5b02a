#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

enum CommandParameterFlags : uint32_t {
    ParamHidden = 0x01,           // left out of the usage text
    ParamPositional = 0x02,       // matched by position, has no name
    ParamRequired = 0x04,         // must be present (in a group: the group is required)
    ParamSwitch = 0x08,           // named, no value: "true" when present, "false" when absent
    ParamDashValueAllowed = 0x10, // its value may begin with '-'
    ParamRest = 0x20,             // takes every argument left from its position on
};

// One declared parameter of a command.
struct CommandParameter {
    std::string name; // as typed, with its leading '-'; empty for a positional parameter
    std::vector<std::string> allowedValues;
    uint32_t flags = 0;
    int group = 0;       // 1-4: one of the members of the group is required
    uint32_t textId = 0; // string-table id of the usage placeholder, 0 for none

    bool has(uint32_t flag) const { return (flags & flag) != 0; }
    // The allowed values joined by "|", else the placeholder text, else empty.
    std::string getValueText() const;
    // True without an allowed-value list, or when the value is one of them (ASCII case folding).
    bool isAllowedValue(std::string_view value) const;
};

} // namespace quendle
