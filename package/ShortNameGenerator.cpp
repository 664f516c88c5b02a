#include "package/ShortNameGenerator.h"

#include "util/strings/StringSystem.h"

#include <string>

namespace quendle {
namespace {

constexpr std::string_view DroppedCharacters = ". ";
constexpr std::string_view ReplacedCharacters = "+,;=[]";

bool isOneOf(char32_t cp, std::string_view set) {
    return cp < 0x80 && set.find(static_cast<char>(cp)) != std::string_view::npos;
}

bool isClean(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        const char32_t cp = nextCodePoint(text, pos);
        if (isOneOf(cp, DroppedCharacters) || isOneOf(cp, ReplacedCharacters))
            return false;
    }
    return true;
}

struct StemAndExtension {
    std::string_view stem;
    std::string extension; // upper-cased A to Z only, as the validity check compares it
};

StemAndExtension splitName(std::string_view longName) {
    const size_t dot = longName.rfind('.');
    if (dot == std::string_view::npos)
        return {longName, {}};
    std::string extension(longName.substr(dot + 1));
    for (char& c : extension)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return {longName.substr(0, dot), std::move(extension)};
}

} // namespace

std::string ShortNameGenerator::shortNamePart(std::string_view text, size_t maximum) {
    std::string out;
    size_t written = 0;
    for (size_t pos = 0; pos < text.size() && written < maximum;) {
        const size_t start = pos;
        const char32_t cp = nextCodePoint(text, pos);
        if (isOneOf(cp, DroppedCharacters))
            continue;
        // The rest follows the system's case mapping, not just A to Z: "é" becomes "É".
        out +=
            isOneOf(cp, ReplacedCharacters) ? std::string("_") : toUpperCase(text.substr(start, pos - start));
        ++written;
    }
    return out;
}

bool ShortNameGenerator::isValidShortName(std::string_view longName) {
    const auto [stem, extension] = splitName(longName);
    return codePointCount(stem) <= 8 && codePointCount(extension) <= 3 && isClean(stem) && isClean(extension);
}

std::string ShortNameGenerator::candidate(std::string_view longName, unsigned long long n) {
    const auto [stem, extension] = splitName(longName);
    const std::string suffix = "~" + std::to_string(n);
    // Once the number fills all eight places, there is room for nothing else.
    if (suffix.size() >= 8)
        return suffix;
    std::string result = shortNamePart(stem, 8 - suffix.size()) + suffix;
    const std::string extensionPart = shortNamePart(extension, 3);
    if (!extensionPart.empty())
        result += "." + extensionPart;
    return result;
}

std::string ShortNameGenerator::makeShortName(std::string_view longName, const TakenPredicate& isTaken) {
    if (isValidShortName(longName))
        return {};
    for (unsigned long long n = 1;; ++n) {
        std::string name = candidate(longName, n);
        if (!isTaken(name))
            return name;
    }
}

} // namespace quendle
