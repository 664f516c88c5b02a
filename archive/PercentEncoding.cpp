#include "archive/PercentEncoding.h"

#include "util/strings/StringSystem.h"

namespace quendle {

namespace {

constexpr std::string_view EscapedCharacters = " @$+,/:;=?&%<>{}[]()#^!*'";
constexpr char HexDigits[] = "0123456789ABCDEF";

void appendEscape(std::string& out, unsigned char c) {
    out += '%';
    out += HexDigits[c >> 4];
    out += HexDigits[c & 0xF];
}

template <typename Emit> std::string decode(std::string_view text, Emit emit) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = hexDigitValue(text[i + 1]), lo = hexDigitValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                emit(out, static_cast<unsigned char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

} // namespace

std::string percentEncodePackagePath(std::string_view packagePath) {
    std::string out;
    out.reserve(packagePath.size());
    for (char c : packagePath) {
        if (EscapedCharacters.find(c) != std::string_view::npos)
            appendEscape(out, static_cast<unsigned char>(c));
        else
            out += c;
    }
    return out;
}

std::string percentDecode(std::string_view text) {
    return decode(text, [](std::string& out, unsigned char byte) { out += static_cast<char>(byte); });
}

std::string percentDecodeCharacters(std::string_view text) {
    return decode(text, [](std::string& out, unsigned char code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    });
}

std::string percentEncodeEntryName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '\\')
            out += '/';
        else if (c > 127)
            appendEscape(out, c);
        else
            out += ch;
    }
    return out;
}

} // namespace quendle
