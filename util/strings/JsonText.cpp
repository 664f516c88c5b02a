#include "util/strings/JsonText.h"

#include "util/strings/StringSystem.h"

#include <cstdio>

namespace quendle {

std::string jsonQuoted(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : utf8OrWindows1252(text)) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

} // namespace quendle
