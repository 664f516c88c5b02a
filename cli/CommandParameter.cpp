#include "cli/CommandParameter.h"

#include "util/strings/StringSystem.h"
#include "util/strings/StringTable.h"

namespace quendle {

std::string CommandParameter::getValueText() const {
    if (!allowedValues.empty()) {
        std::string text;
        for (const auto& v : allowedValues) {
            if (!text.empty())
                text += '|';
            text += v;
        }
        return text;
    }
    return textId >= 1 ? loadString(textId) : std::string();
}

bool CommandParameter::isAllowedValue(std::string_view value) const {
    if (allowedValues.empty())
        return true;
    for (const auto& v : allowedValues) {
        if (equalsIgnoreCaseAscii(v, value))
            return true;
    }
    return false;
}

} // namespace quendle
