#pragma once
#include "os/ArchiveFile.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace quendle {

constexpr uint16_t ZipVersion = 45; // ZIP64
constexpr uint16_t FlagDataDescriptor = 0x0008;
constexpr uint16_t FlagUtf8Name = 0x0800;
constexpr uint16_t MethodStored = 0;
constexpr uint16_t MethodDeflated = 8;
// The format's original writer stores an empty file as a deflated entry with no payload at all:
// no bytes is the empty stream, not a stream cut short.
constexpr bool deflatedPayloadIsEmpty(uint64_t compressedSize) {
    return compressedSize == 0;
}

struct DosDateTime {
    uint16_t time = 0;
    uint16_t date = 0;
};

// MS-DOS time and date of a UTC instant; both 0 outside the years 1980 to 2107.
DosDateTime dosDateTimeOf(std::time_t utc);

// One fixed record of the archive, holding its bytes exactly as they go to disk.
class ZipRecord {
  public:
    virtual ~ZipRecord() = default;
    uint64_t size() const { return bytes_.size(); }
    bool writeTo(ArchiveFile& archive) const { return archive.append(bytes_.data(), bytes_.size()); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  protected:
    explicit ZipRecord(size_t fixedSize) : bytes_(fixedSize, 0) {}
    void put16(size_t at, uint16_t v);
    void put32(size_t at, uint32_t v);
    void put64(size_t at, uint64_t v);
    uint16_t get16(size_t at) const;

    std::vector<uint8_t> bytes_;
};

// Sizes and CRC are zero here: they follow in the data descriptor (flag bit 3).
class LocalFileHeader : public ZipRecord {
  public:
    LocalFileHeader(uint16_t flags, uint16_t method, DosDateTime when, const std::string& name);
    uint16_t flags() const { return get16(6); }
    uint16_t method() const { return get16(8); }
    DosDateTime when() const { return {get16(10), get16(12)}; }
};

class DataDescriptor : public ZipRecord {
  public:
    DataDescriptor();
    void set(uint32_t crc, uint64_t compressedSize, uint64_t uncompressedSize);
};

// Always the ZIP64 form: 32-bit sizes and offset are 0xFFFFFFFF, the real values in the extra.
class CentralDirectoryHeader : public ZipRecord {
  public:
    CentralDirectoryHeader(const LocalFileHeader& local, const std::string& name, uint64_t localHeaderOffset);
    void set(uint32_t crc, uint64_t compressedSize, uint64_t uncompressedSize);

  private:
    size_t extraAt_;
};

class Zip64EndOfCentralDirectory : public ZipRecord {
  public:
    Zip64EndOfCentralDirectory();
    void set(uint64_t entries, uint64_t directorySize, uint64_t directoryOffset);
};

class Zip64EndLocator : public ZipRecord {
  public:
    Zip64EndLocator();
    void setEndRecordOffset(uint64_t offset);
};

// Every count, size and offset field is 0xFF..: readers must take the ZIP64 records.
class EndOfCentralDirectory : public ZipRecord {
  public:
    EndOfCentralDirectory();
};

} // namespace quendle
