#include "archive/ZipRecords.h"

#include <chrono>
#include <cstring>

namespace quendle {

DosDateTime dosDateTimeOf(std::time_t utc) {
    // The calendar of <chrono>: the same on every platform, no C library time zone state.
    using namespace std::chrono;
    // 1980-01-01 up to the end of 2107, the years a DOS date holds.
    if (utc < 315532800 || utc >= 4354819200)
        return {};
    sys_seconds at{seconds(utc)};
    sys_days day = floor<days>(at);
    year_month_day date{day};
    hh_mm_ss time{at - day};
    int year = static_cast<int>(date.year());
    DosDateTime d;
    d.time = static_cast<uint16_t>((time.hours().count() << 11) | (time.minutes().count() << 5) |
                                   (time.seconds().count() / 2));
    d.date = static_cast<uint16_t>(((year - 1980) << 9) | (static_cast<unsigned>(date.month()) << 5) |
                                   static_cast<unsigned>(date.day()));
    return d;
}

void ZipRecord::put16(size_t at, uint16_t v) {
    bytes_[at] = static_cast<uint8_t>(v);
    bytes_[at + 1] = static_cast<uint8_t>(v >> 8);
}

void ZipRecord::put32(size_t at, uint32_t v) {
    put16(at, static_cast<uint16_t>(v));
    put16(at + 2, static_cast<uint16_t>(v >> 16));
}

void ZipRecord::put64(size_t at, uint64_t v) {
    put32(at, static_cast<uint32_t>(v));
    put32(at + 4, static_cast<uint32_t>(v >> 32));
}

uint16_t ZipRecord::get16(size_t at) const {
    return static_cast<uint16_t>(bytes_[at] | (bytes_[at + 1] << 8));
}

LocalFileHeader::LocalFileHeader(uint16_t flags, uint16_t method, DosDateTime when, const std::string& name)
    : ZipRecord(30) {
    put32(0, 0x04034B50);
    put16(4, ZipVersion);
    put16(6, flags);
    put16(8, method);
    put16(10, when.time);
    put16(12, when.date);
    put16(26, static_cast<uint16_t>(name.size()));
    bytes_.insert(bytes_.end(), name.begin(), name.end());
}

DataDescriptor::DataDescriptor() : ZipRecord(24) {
    put32(0, 0x08074B50);
}

void DataDescriptor::set(uint32_t crc, uint64_t compressedSize, uint64_t uncompressedSize) {
    put32(4, crc);
    put64(8, compressedSize);
    put64(16, uncompressedSize);
}

CentralDirectoryHeader::CentralDirectoryHeader(const LocalFileHeader& local, const std::string& name,
                                               uint64_t localHeaderOffset)
    : ZipRecord(46) {
    put32(0, 0x02014B50);
    put16(4, ZipVersion);
    put16(6, ZipVersion);
    put16(8, local.flags());
    put16(10, local.method());
    put16(12, local.when().time);
    put16(14, local.when().date);
    put32(20, 0xFFFFFFFF);
    put32(24, 0xFFFFFFFF);
    put16(28, static_cast<uint16_t>(name.size()));
    put16(30, 28);
    put32(42, 0xFFFFFFFF);
    bytes_.insert(bytes_.end(), name.begin(), name.end());
    extraAt_ = bytes_.size();
    bytes_.resize(extraAt_ + 28, 0);
    put16(extraAt_, 0x0001);
    put16(extraAt_ + 2, 24);
    put64(extraAt_ + 20, localHeaderOffset);
}

void CentralDirectoryHeader::set(uint32_t crc, uint64_t compressedSize, uint64_t uncompressedSize) {
    put32(16, crc);
    put64(extraAt_ + 4, uncompressedSize);
    put64(extraAt_ + 12, compressedSize);
}

Zip64EndOfCentralDirectory::Zip64EndOfCentralDirectory() : ZipRecord(56) {
    put32(0, 0x06064B50);
    put64(4, 44);
    put16(12, ZipVersion);
    put16(14, ZipVersion);
}

void Zip64EndOfCentralDirectory::set(uint64_t entries, uint64_t directorySize, uint64_t directoryOffset) {
    put64(24, entries);
    put64(32, entries);
    put64(40, directorySize);
    put64(48, directoryOffset);
}

Zip64EndLocator::Zip64EndLocator() : ZipRecord(20) {
    put32(0, 0x07064B50);
    put32(16, 1);
}

void Zip64EndLocator::setEndRecordOffset(uint64_t offset) {
    put64(8, offset);
}

EndOfCentralDirectory::EndOfCentralDirectory() : ZipRecord(22) {
    put32(0, 0x06054B50);
    std::memset(bytes_.data() + 4, 0xFF, 16);
}

} // namespace quendle
