#pragma once
#include "util/LittleEndian.h"

#include <cstddef>
#include <cstdint>

// Record signatures and the little-endian field reads of the ZIP format, shared by every reader of
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

using littleendian::get16;
using littleendian::get32;
using littleendian::get64;

} // namespace quendle::zipformat
