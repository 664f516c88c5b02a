#include "util/strings/StringSystem.h"

#include "util/strings/CaseTable.h"

#include <algorithm>
#include <vector>

namespace quendle {
namespace {

// The bytes 0x80-0x9F of Windows-1252; zero marks the five unassigned ones.
constexpr char16_t cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char32_t cp1252(unsigned char b) {
    if (b >= 0x80 && b < 0xA0 && cp1252High[b - 0x80] != 0)
        return cp1252High[b - 0x80];
    return b;
}

// Length of the valid UTF-8 sequence at text[pos], or 0 when none starts there.
size_t validSequenceLength(std::string_view text, size_t pos, char32_t& cp) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t len;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (pos + len > text.size())
        return 0;
    for (size_t i = 1; i < len; ++i) {
        unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

template <typename Map> std::string mapCodePoints(std::string_view text, Map map) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        // Package paths are nearly all ASCII: one byte, one code point, no decoding.
        if (auto byte = static_cast<unsigned char>(text[pos]); byte < 0x80) {
            out += static_cast<char>(map(byte));
            ++pos;
            continue;
        }
        size_t start = pos;
        char32_t cp;
        if (validSequenceLength(text, pos, cp) == 0) {
            out += text[pos++]; // not text: kept as it is
            continue;
        }
        nextCodePoint(text, pos);
        char32_t mapped = map(cp);
        if (mapped == cp)
            out.append(text.substr(start, pos - start));
        else
            appendUtf8(out, mapped);
    }
    return out;
}

char32_t lowerOf(char32_t cp) {
    if (cp < 0x80)
        return static_cast<char32_t>(toLowerAscii(static_cast<char>(cp)));
    return tableLowerCase(cp);
}

char32_t upperOf(char32_t cp) {
    if (cp < 0x80)
        return cp >= 'a' && cp <= 'z' ? cp - 32 : cp;
    return tableUpperCase(cp);
}

} // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
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

char32_t nextCodePoint(std::string_view text, size_t& pos) {
    char32_t cp;
    size_t len = validSequenceLength(text, pos, cp);
    if (len == 0) {
        cp = static_cast<unsigned char>(text[pos]);
        len = 1;
    }
    pos += len;
    return cp;
}

char32_t nextCodePoint(std::string_view text, size_t& pos, char32_t replacement) {
    char32_t cp;
    const size_t len = validSequenceLength(text, pos, cp);
    pos += len == 0 ? 1 : len;
    return len == 0 ? replacement : cp;
}

size_t codePointCount(std::string_view text) {
    size_t n = 0;
    for (size_t pos = 0; pos < text.size(); ++n)
        nextCodePoint(text, pos);
    return n;
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, c); // a lone surrogate becomes U+FFFD here
    }
    return out;
}

namespace {

// Calls `visit` with each code point of UTF-8 text; `invalid` gives the code point of a byte that
// does not start a valid sequence.
template <typename Invalid, typename Visit>
void forEachCodePoint(std::string_view text, Invalid invalid, Visit visit) {
    size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp;
        size_t len = validSequenceLength(text, pos, cp);
        if (len == 0) {
            cp = invalid(static_cast<unsigned char>(text[pos]));
            len = 1;
        }
        visit(cp);
        pos += len;
    }
}

template <typename Invalid> std::u16string toUtf16(std::string_view text, Invalid invalid) {
    std::u16string out;
    out.reserve(text.size());
    forEachCodePoint(text, invalid, [&out](char32_t cp) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    });
    return out;
}

} // namespace

std::u16string utf8ToUtf16(std::string_view text) {
    return toUtf16(text, cp1252);
}

std::u16string utf8ToUtf16Replacing(std::string_view text) {
    return toUtf16(text, [](unsigned char) { return char32_t{0xFFFD}; });
}

char32_t windows1252CodePoint(unsigned char byte) {
    return cp1252(byte);
}

int windows1252Byte(char32_t codePoint) {
    // Code page 1252 differs from Latin-1 only in 0x80-0x9F.
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint < 0x100))
        return static_cast<int>(codePoint);
    for (int k = 0; k < 32; ++k)
        if (cp1252(static_cast<unsigned char>(0x80 + k)) == codePoint)
            return 0x80 + k;
    return -1;
}

std::string windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char b : bytes)
        appendUtf8(out, cp1252(static_cast<unsigned char>(b)));
    return out;
}

std::string utf8OrWindows1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    forEachCodePoint(bytes, cp1252, [&out](char32_t cp) { appendUtf8(out, cp); });
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t cp;
        size_t len = validSequenceLength(bytes, pos, cp);
        if (len == 0)
            return false;
        pos += len;
    }
    return true;
}

char toLowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string toLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = toLowerAscii(c);
    return out;
}

bool equalsIgnoreCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (toLowerAscii(a[i]) != toLowerAscii(b[i]))
            return false;
    }
    return true;
}

bool startsWithIgnoreCaseAscii(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCaseAscii(text.substr(0, prefix.size()), prefix);
}

std::string foldCase(std::string_view text) {
    return mapCodePoints(text, lowerOf);
}

std::string toUpperCase(std::string_view text) {
    return mapCodePoints(text, upperOf);
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return foldCase(a) == foldCase(b);
}

char32_t simpleUpperCase(char32_t codePoint) {
    return upperOf(codePoint);
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

size_t editDistance(std::string_view a, std::string_view b) {
    std::u32string x, y;
    for (size_t pos = 0; pos < a.size();)
        x += nextCodePoint(a, pos);
    for (size_t pos = 0; pos < b.size();)
        y += nextCodePoint(b, pos);
    if (x.empty())
        return y.size();
    if (y.empty())
        return x.size();
    // Two rows of the table are enough for the distance itself.
    std::vector<size_t> prev(y.size() + 1), cur(y.size() + 1);
    for (size_t j = 0; j <= y.size(); ++j)
        prev[j] = j;
    for (size_t i = 1; i <= x.size(); ++i) {
        cur[0] = i;
        for (size_t j = 1; j <= y.size(); ++j) {
            size_t substitute = prev[j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1);
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, substitute});
        }
        std::swap(prev, cur);
    }
    return prev[y.size()];
}

bool withinSuggestionRange(size_t typedLength, std::string_view candidate, size_t limit) {
    size_t other = codePointCount(candidate);
    size_t gap = typedLength > other ? typedLength - other : other - typedLength;
    return gap < limit;
}

std::string_view trimWhiteSpace(std::string_view text) {
    auto space = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    };
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    return text;
}

} // namespace quendle
