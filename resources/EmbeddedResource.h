#pragma once
#include <cstddef>
#include <string_view>

namespace quendle {

// The schemas and the stylesheet compiled into the program (UTF-8 XML text).
struct EmbeddedResource {
    int id;
    const char* name;
    const unsigned char* data;
    std::size_t size;
};

extern const EmbeddedResource embeddedResources[];
extern const std::size_t embeddedResourceCount;

// The resource with that id, or nullptr when the program has none.
const EmbeddedResource* findEmbeddedResource(int id);

inline std::string_view resourceText(const EmbeddedResource& r) {
    return {reinterpret_cast<const char*>(r.data), r.size};
}

} // namespace quendle
