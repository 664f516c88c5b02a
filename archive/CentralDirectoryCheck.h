#pragma once
#include "core/Failure.h"
#include "os/RandomAccessFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

// Where the end records put the central directory.
struct DirectoryLocation {
    uint64_t offset = 0; // where the central directory begins
    uint64_t size = 0;
    uint64_t count = 0;
    uint64_t end = 0;       // where the ZIP64 end record, or else the end record, begins
    uint64_t endRecord = 0; // where the end record begins
    bool zip64 = false;
    // The end record's own fields, which the ZIP64 end record replaces when there is one.
    uint64_t classicCount = 0, classicSize = 0, classicOffset = 0;
    bool countsAgree = true; // the entries on this disk are all the entries
    bool saturated() const {
        return classicCount == 0xFFFF || classicSize == 0xFFFFFFFF || classicOffset == 0xFFFFFFFF;
    }
};

// One central-directory record as stored, with the ZIP64 extra applied.
struct DirectoryRecord {
    std::string name;                // the name's bytes exactly as stored
    std::string unicodeName;         // the UTF-8 name of an Info-ZIP Unicode path field
    bool unicodeNameCurrent = false; // that field was written for this very name, so it wins
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc = 0;
    uint32_t externalAttributes = 0;
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    uint64_t localHeaderOffset = 0;
    uint64_t recordOffset = 0; // where the record itself sits in the archive
    bool zip64Missing = false; // a saturated field has no ZIP64 value
};

// Finds the end records, the one place that reads them; says why not when they cannot be found
// or put the central directory outside the file.
enum class EndProblem { None, NoEndRecord, Unreadable, Zip64EndMissing, Outside };
EndProblem findCentralDirectory(const RandomAccessFile& file, DirectoryLocation& location);
Failure endProblemFailure(EndProblem problem);

// Reads the central directory front to back in pieces of 64 KiB, one record at a time: neither
// its declared size nor its count ever decides how much memory is taken.
class DirectoryRecordReader {
  public:
    DirectoryRecordReader(const RandomAccessFile& file, const DirectoryLocation& location);
    // The next record; false with `why` when it is damaged or the directory ends before it.
    bool next(DirectoryRecord& record, Failure& why);
    // The record at `recordOffset` (from an earlier next), read again for a message.
    bool recordAt(uint64_t recordOffset, DirectoryRecord& record) const;
    uint64_t recordsRead() const { return index_; }
    bool atEnd() const { return offset_ == end_ && at_ == buffer_.size(); }

  private:
    bool read(void* into, size_t length);
    static bool parse(const uint8_t* header, const uint8_t* variable, DirectoryRecord& record);

    const RandomAccessFile& file_;
    uint64_t offset_, end_;
    uint64_t index_ = 0;
    std::vector<uint8_t> buffer_, variable_;
    size_t at_ = 0;
};

// Checks a ZIP archive's central directory for what an extracting reader must not let through:
// names holding NUL or other control characters or bytes that are not UTF-8 (after
// percent-decoding), saturated fields without their ZIP64 values, and entries whose data
// overlaps another entry's or the central directory (several entries sharing one local header
// multiply a small archive into gigabytes). Returns why the archive is refused, or no failure.
Failure checkCentralDirectory(const RandomAccessFile& file, const DirectoryLocation& location);

// A stored name for messages: as it stands when it is printable UTF-8, otherwise with every
// control byte and every byte past ASCII as \xHH.
std::string shownEntryName(const std::string& name);

// Why two entry names that denote one file collide: the same name twice, names that differ only
// in letter case, only in their separators ("\" for "/", "./", "//"), or in both.
Failure duplicateEntryFailure(const std::string& first, const std::string& second);

} // namespace quendle
