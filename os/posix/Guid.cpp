#include "os/Guid.h"

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

} // namespace quendle
