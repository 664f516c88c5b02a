#include "util/strings/JsonText.h"

#include "util/strings/StringSystem.h"

#include <cstdio>

namespace quendle {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    // Entry names of other tools may be in a legacy code page; the document must be UTF-8.
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

std::string jsonObject(const JsonFields& fields) {
    std::string out = "{";
    for (size_t i = 0; i < fields.size(); ++i)
        out += (i ? ", " : "") + jsonString(fields[i].first) + ": " + fields[i].second;
    return out + "}";
}

} // namespace quendle
