#include "os/hive/HiveName.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace quendle::hivename {
namespace {

// The C.UTF-8 locale, opened once; its case table does not depend on the user's settings.
class CaseLocale {
  public:
    CaseLocale() : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {}
    ~CaseLocale() {
        if (locale_)
            freelocale(locale_);
    }
    CaseLocale(const CaseLocale&) = delete;
    CaseLocale& operator=(const CaseLocale&) = delete;
    locale_t get() const { return locale_; }

  private:
    locale_t locale_;
};

// One table for the whole BMP, built on first use so that comparisons stay cheap.
struct UpcaseTable {
    char16_t map[0x10000];
    UpcaseTable() {
        CaseLocale locale;
        for (uint32_t c = 0; c < 0x10000; ++c) {
            uint32_t u = c;
            if (c >= 'a' && c <= 'z')
                u = c - 0x20;
            else if (locale.get() && c >= 0x80 && (c < 0xD800 || c > 0xDFFF))
                u = static_cast<uint32_t>(towupper_l(static_cast<wint_t>(c), locale.get()));
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
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        uint32_t cp;
        size_t len;
        if (b < 0x80) {
            cp = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            len = 4;
        } else {
            return std::nullopt;
        }
        if (i + len > text.size())
            return std::nullopt;
        for (size_t k = 1; k < len; ++k) {
            unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

std::u16string fromUtf8Lossy(std::string_view text) {
    if (auto exact = fromUtf8(text))
        return *exact;
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        // Take the longest well-formed sequence at i, else one replacement character.
        size_t taken = 0;
        for (size_t len = 4; len >= 1 && !taken; --len) {
            if (i + len <= text.size()) {
                if (auto piece = fromUtf8(text.substr(i, len)); piece && !piece->empty()) {
                    out += *piece;
                    taken = len;
                }
            }
        }
        if (!taken) {
            out += u'\uFFFD';
            taken = 1;
        }
        i += taken;
    }
    return out;
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
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
    return out;
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
