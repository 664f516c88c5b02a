#pragma once
#include "util/strings/MessageIds.h"

#include <cstdint>
#include <string>

namespace quendle {

// The program's user-visible texts, addressed by id. Empty when the id is unknown.
std::string loadString(uint32_t id);

} // namespace quendle
