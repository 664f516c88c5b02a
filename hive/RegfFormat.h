#pragma once
#include "util/LittleEndian.h"
#include "util/strings/MessageFormat.h"
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

// On-disk layout of regf hive files, shared by the reader and the writer.
namespace quendle::regf {

constexpr uint32_t BaseBlockSize = 4096;
constexpr uint32_t BinAlignment = 4096;
constexpr uint32_t BinHeaderSize = 32;
constexpr uint32_t CellAlignment = 8;
constexpr uint32_t NoCell = 0xFFFFFFFF;

// Base block fields.
constexpr uint32_t OffSequence1 = 0x04;
constexpr uint32_t OffSequence2 = 0x08;
constexpr uint32_t OffTimestamp = 0x0C;
constexpr uint32_t OffMajor = 0x14;
constexpr uint32_t OffMinor = 0x18;
constexpr uint32_t OffFileType = 0x1C;
constexpr uint32_t OffFileFormat = 0x20;
constexpr uint32_t OffRootCell = 0x24;
constexpr uint32_t OffBinsSize = 0x28;
constexpr uint32_t OffClustering = 0x2C;
constexpr uint32_t OffFileName = 0x30;
constexpr uint32_t FileNameSize = 64;
constexpr uint32_t OffChecksum = 0x1FC;

// Key node ("nk") fields, relative to the cell payload.
constexpr uint32_t NkFlags = 0x02;
constexpr uint32_t NkLastWrite = 0x04;
constexpr uint32_t NkAccessBits = 0x0C;
constexpr uint32_t NkParent = 0x10;
constexpr uint32_t NkSubkeyCount = 0x14;
constexpr uint32_t NkVolatileSubkeyCount = 0x18;
constexpr uint32_t NkSubkeyList = 0x1C;
constexpr uint32_t NkVolatileSubkeyList = 0x20;
constexpr uint32_t NkValueCount = 0x24;
constexpr uint32_t NkValueList = 0x28;
constexpr uint32_t NkSecurity = 0x2C;
constexpr uint32_t NkClass = 0x30;
constexpr uint32_t NkMaxSubkeyName = 0x34;
constexpr uint32_t NkMaxSubkeyClass = 0x38;
constexpr uint32_t NkMaxValueName = 0x3C;
constexpr uint32_t NkMaxValueData = 0x40;
constexpr uint32_t NkWorkVar = 0x44;
constexpr uint32_t NkNameLength = 0x48;
constexpr uint32_t NkClassLength = 0x4A;
constexpr uint32_t NkName = 0x4C;

constexpr uint16_t KeyVolatile = 0x0001;
constexpr uint16_t KeyHiveExit = 0x0002;
constexpr uint16_t KeyHiveEntry = 0x0004;
constexpr uint16_t KeyNoDelete = 0x0008;
constexpr uint16_t KeyCompressedName = 0x0020;

// Value ("vk") fields.
constexpr uint32_t VkNameLength = 0x02;
constexpr uint32_t VkDataLength = 0x04;
constexpr uint32_t VkData = 0x08;
constexpr uint32_t VkType = 0x0C;
constexpr uint32_t VkFlags = 0x10;
constexpr uint32_t VkName = 0x14;
constexpr uint16_t ValueCompressedName = 0x0001;
// Data of up to four bytes lives in the data-offset field itself.
constexpr uint32_t DataInline = 0x80000000;

// Security ("sk") fields.
constexpr uint32_t SkNext = 0x04;
constexpr uint32_t SkPrevious = 0x08;
constexpr uint32_t SkReferences = 0x0C;
constexpr uint32_t SkDescriptorSize = 0x10;
constexpr uint32_t SkDescriptor = 0x14;

// Big data ("db", format 1.4 and later): values longer than one segment.
constexpr uint32_t BigDataSegmentSize = 16344;
constexpr uint32_t BigDataMaxSegments = 0xFFFF;

// Keys and values whose names are longer are refused, as the system does.
constexpr size_t MaxKeyNameLength = 255;
constexpr size_t MaxValueNameLength = 16383;
constexpr uint32_t MaxTreeDepth = 512;

using littleendian::get16;
using littleendian::get32;
using littleendian::get64;
using littleendian::put16;
using littleendian::put32;
using littleendian::put64;

// XOR of the first 127 double words, never 0 or all ones.
inline uint32_t baseBlockChecksum(const uint8_t* block) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < OffChecksum; i += 4)
        sum ^= get32(block + i);
    if (sum == 0)
        sum = 1;
    else if (sum == 0xFFFFFFFF)
        sum = 0xFFFFFFFE;
    return sum;
}

inline uint32_t alignUp(uint64_t n, uint32_t a) {
    return static_cast<uint32_t>((n + a - 1) / a * a);
}

// A hive engine failure: the Win32 error the offline registry library would return, and what was
// found wrong (a string-table text and its inserts; the detail after the hive's path).
class RegfError : public std::runtime_error {
  public:
    RegfError(uint32_t win32Error, uint32_t id, const MessageArgs& args = {})
        : std::runtime_error(formatStringId(id, args)), error_(win32Error) {}
    uint32_t win32Error() const { return error_; }

  private:
    uint32_t error_;
};

} // namespace quendle::regf
