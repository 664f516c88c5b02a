#include "os/SourceDateEpoch.h"

#include <cstdlib>

namespace quendle {

std::optional<int64_t> sourceDateEpoch() {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text)
        return std::nullopt;
    int64_t seconds = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || seconds > (int64_t{1} << 40))
            return std::nullopt;
        seconds = seconds * 10 + (*p - '0');
    }
    return seconds;
}

} // namespace quendle
