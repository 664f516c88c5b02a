#include "os/Guid.h"

#include <cctype>

namespace quendle {

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
