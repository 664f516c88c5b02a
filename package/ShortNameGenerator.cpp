#include "package/ShortNameGenerator.h"

#include <locale>
#include <string>
#include <vector>

namespace quendle {
namespace {

constexpr std::string_view DroppedCharacters = ". ";
constexpr std::string_view ReplacedCharacters = "+,;=[]";

// One character of a UTF-8 text: its bytes as they stand, and its code point (or the lone
// byte's value when the sequence is malformed, so that odd input is carried through unchanged).
struct Character {
    std::string_view bytes;
    char32_t codePoint;
};

std::vector<Character> splitCharacters(std::string_view text) {
    std::vector<Character> out;
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 1;
        char32_t cp = lead;
        if (lead >= 0xC2 && lead <= 0xF4) {
            length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            cp = lead & (0x7F >> length);
            bool valid = i + length <= text.size();
            for (size_t k = 1; valid && k < length; ++k) {
                const auto cont = static_cast<unsigned char>(text[i + k]);
                valid = (cont & 0xC0) == 0x80;
                cp = (cp << 6) | (cont & 0x3F);
            }
            if (!valid) {
                length = 1;
                cp = lead;
            }
        }
        out.push_back({text.substr(i, length), cp});
        i += length;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Short names follow the system's case mapping, not just A to Z: "é" becomes "É".
const std::locale& unicodeLocale() {
    static const std::locale loc = [] {
        try {
            return std::locale("C.UTF-8");
        } catch (const std::runtime_error&) {
            return std::locale::classic();
        }
    }();
    return loc;
}

void appendUpper(std::string& out, const Character& c) {
    if (c.bytes.size() == 1 && c.codePoint >= 0x80) {
        out += c.bytes; // a stray byte of malformed UTF-8 stays as it was
        return;
    }
    const auto upper = std::toupper(static_cast<wchar_t>(c.codePoint), unicodeLocale());
    appendUtf8(out, static_cast<char32_t>(upper));
}

bool isDropped(char32_t cp) {
    return cp < 0x80 && DroppedCharacters.find(static_cast<char>(cp)) != std::string_view::npos;
}

bool isReplaced(char32_t cp) {
    return cp < 0x80 && ReplacedCharacters.find(static_cast<char>(cp)) != std::string_view::npos;
}

bool isClean(const std::vector<Character>& chars) {
    for (const auto& c : chars)
        if (isDropped(c.codePoint) || isReplaced(c.codePoint))
            return false;
    return true;
}

std::string upperAsciiOnly(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

struct StemAndExtension {
    std::string_view stem;
    std::string extension;
};

StemAndExtension splitName(std::string_view longName) {
    const size_t dot = longName.rfind('.');
    if (dot == std::string_view::npos)
        return {longName, {}};
    return {longName.substr(0, dot), upperAsciiOnly(longName.substr(dot + 1))};
}

} // namespace

std::string ShortNameGenerator::shortNamePart(std::string_view text, size_t maximum) {
    std::string out;
    size_t written = 0;
    for (const auto& c : splitCharacters(text)) {
        if (written >= maximum)
            break;
        if (isDropped(c.codePoint))
            continue;
        if (isReplaced(c.codePoint))
            out += '_';
        else
            appendUpper(out, c);
        ++written;
    }
    return out;
}

bool ShortNameGenerator::isValidShortName(std::string_view longName) {
    const auto [stem, extension] = splitName(longName);
    const auto stemChars = splitCharacters(stem);
    const auto extensionChars = splitCharacters(extension);
    return stemChars.size() <= 8 && extensionChars.size() <= 3 && isClean(stemChars) &&
           isClean(extensionChars);
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
