#include "hive/HiveName.h"

#include "util/strings/StringSystem.h"

namespace quendle::hivename {
namespace {

// One table for the whole BMP, built on first use so that comparisons stay cheap. The registry
// upper-cases each code unit on its own, so a unit whose upper case lies outside the BMP (or is a
// surrogate) stays as it is.
struct UpcaseTable {
    char16_t map[0x10000];
    UpcaseTable() {
        for (uint32_t c = 0; c < 0x10000; ++c) {
            uint32_t u = c >= 0xD800 && c <= 0xDFFF ? c : static_cast<uint32_t>(simpleUpperCase(c));
            map[c] = static_cast<char16_t>(u < 0x10000 && (u < 0xD800 || u > 0xDFFF) ? u : c);
        }
    }
};

const UpcaseTable& table() {
    static const UpcaseTable t;
    return t;
}

} // namespace

std::optional<std::u16string> fromUtf8(std::string_view text) {
    if (!isValidUtf8(text))
        return std::nullopt;
    return utf8ToUtf16(text);
}

std::u16string fromUtf8Lossy(std::string_view text) {
    return utf8ToUtf16Replacing(text);
}

std::string toUtf8(std::u16string_view text) {
    return utf16ToUtf8(text);
}

char16_t upcase(char16_t c) {
    return table().map[c];
}

std::u16string upcased(std::u16string_view name) {
    std::u16string out(name);
    for (auto& c : out)
        c = upcase(c);
    return out;
}

int compare(std::u16string_view a, std::u16string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        char16_t x = upcase(a[i]);
        char16_t y = upcase(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool isAscii(std::u16string_view name) {
    for (char16_t c : name) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

uint32_t lhHash(std::u16string_view name) {
    uint32_t h = 0;
    for (char16_t c : name)
        h = h * 37 + upcase(c);
    return h;
}

uint32_t lfHint(std::u16string_view name) {
    uint32_t hint = 0;
    for (size_t i = 0; i < 4 && i < name.size(); ++i) {
        // A unit that does not fit a byte leaves no hint at all; lookups then compare names.
        if (name[i] > 0xFF)
            return 0;
        hint |= static_cast<uint32_t>(name[i]) << (8 * i);
    }
    return hint;
}

} // namespace quendle::hivename
