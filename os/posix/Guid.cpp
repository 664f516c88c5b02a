#include "os/Guid.h"

#include <cctype>
#include <uuid/uuid.h>

namespace quendle {

std::string newGuidString(GuidCase letterCase, bool braces) {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    if (letterCase == GuidCase::Upper)
        uuid_unparse_upper(id, text);
    else
        uuid_unparse_lower(id, text);
    return braces ? "{" + std::string(text) + "}" : std::string(text);
}

bool isBracedGuidText(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return false;
    for (size_t i = 1; i < 37; ++i) {
        size_t k = i - 1;
        bool dash = k == 8 || k == 13 || k == 18 || k == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

} // namespace quendle
