#pragma once
#include <cstddef>
#include <cstdint>

namespace quendle {

// CRC-32 of the ZIP format, continued from `crc` (0 to start); ISA-L's when the build has it.
uint32_t crc32Update(uint32_t crc, const void* data, size_t length);

} // namespace quendle
