#pragma once
#include <cstddef>
#include <cstdint>

// Record signatures and little-endian field reads of the ZIP format, shared by every reader of
// raw archive bytes.
namespace quendle::zipformat {

constexpr uint32_t EndSignature = 0x06054B50;
constexpr uint32_t Zip64LocatorSignature = 0x07064B50;
constexpr uint32_t Zip64EndSignature = 0x06064B50;
constexpr uint32_t CentralSignature = 0x02014B50;
constexpr uint32_t LocalSignature = 0x04034B50;
constexpr uint32_t DescriptorSignature = 0x08074B50;
constexpr uint16_t Zip64ExtraId = 0x0001;
constexpr uint16_t UnicodePathExtraId = 0x7075;

inline uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t* p) {
    return get16(p) | static_cast<uint32_t>(get16(p + 2)) << 16;
}
inline uint64_t get64(const uint8_t* p) {
    return get32(p) | static_cast<uint64_t>(get32(p + 4)) << 32;
}

} // namespace quendle::zipformat
