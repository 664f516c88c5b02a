#pragma once
#include <cstdint>
#include <string>

namespace quendle {

// The program's user-visible texts, addressed by id. Empty when the id is unknown.
std::string loadString(uint32_t id);

// Ids of texts added after the first release.
namespace strings {
constexpr uint32_t WorkspaceNotCreated = 240;
constexpr uint32_t WaitingForPackage = 241;
constexpr uint32_t PackageInUse = 242;
constexpr uint32_t SignatureRemoved = 243;
constexpr uint32_t CommandFileAlreadyRunning = 244;
} // namespace strings

} // namespace quendle
