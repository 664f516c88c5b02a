#pragma once
#include <cstdint>

// Fields of the binary formats the program reads and writes (ZIP records, registry hives), all
// little-endian whatever the host.
namespace quendle::littleendian {

inline uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t* p) {
    return get16(p) | static_cast<uint32_t>(get16(p + 2)) << 16;
}
inline uint64_t get64(const uint8_t* p) {
    return get32(p) | static_cast<uint64_t>(get32(p + 4)) << 32;
}
inline void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    put16(p, static_cast<uint16_t>(v));
    put16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void put64(uint8_t* p, uint64_t v) {
    put32(p, static_cast<uint32_t>(v));
    put32(p + 4, static_cast<uint32_t>(v >> 32));
}

} // namespace quendle::littleendian
