#include "resources/EmbeddedResource.h"

namespace quendle {

const EmbeddedResource* findEmbeddedResource(int id) {
    for (std::size_t i = 0; i < embeddedResourceCount; ++i) {
        if (embeddedResources[i].id == id)
            return &embeddedResources[i];
    }
    return nullptr;
}

} // namespace quendle
