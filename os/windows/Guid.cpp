#include "os/Guid.h"

#include <cstdio>
#include <rpc.h>

namespace quendle {

std::string newGuidString(GuidCase letterCase, bool braces) {
    UUID id{};
    // RPC_S_UUID_LOCAL_ONLY is about uniqueness across machines, which a random GUID never
    // promised; the value is still random.
    RPC_STATUS status = UuidCreate(&id);
    (void)status;
    const char* format = letterCase == GuidCase::Upper ? "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X"
                                                       : "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
    char text[40];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long>(id.Data1), id.Data2, id.Data3,
                  id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6],
                  id.Data4[7]);
    return braces ? "{" + std::string(text) + "}" : std::string(text);
}

} // namespace quendle
