#include "package/KnownParts.h"

#include "util/strings/StringSystem.h"

namespace quendle {

std::string_view canonicalKnownPart(std::string_view name) {
    for (std::string_view part : KnownParts)
        if (equalsIgnoreCaseAscii(part, name))
            return part;
    return {};
}

bool isKnownPart(std::string_view name) {
    return !canonicalKnownPart(name).empty();
}

bool isEditableXmlPart(std::string_view name) {
    for (std::string_view part : EditableXmlParts)
        if (equalsIgnoreCaseAscii(part, name))
            return true;
    return false;
}

std::string xpathPrefixFor(std::string_view partName) {
    return equalsIgnoreCaseAscii(partName, ManifestPart) ? "appx" : "appv";
}

} // namespace quendle
