#pragma once
#include "os/RandomAccessFile.h"
#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

// One central-directory entry as stored, before any library interprets its name.
struct CentralEntry {
    std::string name;        // the name's bytes exactly as stored
    std::string unicodeName; // the UTF-8 name of an Info-ZIP Unicode path field, which wins
    uint64_t localHeaderOffset = 0;
    uint64_t compressedSize = 0;
};

struct CentralDirectory {
    std::vector<CentralEntry> entries;
    uint64_t offset = 0; // where the central directory begins
    uint64_t fileSize = 0;
};

// Checks a ZIP archive's central directory for what an extracting library lets through: names
// holding NUL or other control characters or bytes that are not UTF-8 (after percent-decoding),
// and entries whose data overlaps another entry's or the central directory (several entries
// sharing one local header multiply a small archive into gigabytes). Returns why the archive is
// refused, or an empty text.
std::string checkCentralDirectory(const std::string& archivePath);

// The same checks on a directory already read; `fd` is the archive, for the local headers.
std::string checkCentralDirectory(const CentralDirectory& directory, const RandomAccessFile& fd);

// Reads the central directory's entries; false with `why` when it cannot be found or read.
bool readCentralDirectory(const RandomAccessFile& fd, CentralDirectory& directory, std::string& why);

// Why two entry names that denote one file collide: the same name twice, names that differ only
// in letter case, only in their separators ("\" for "/", "./", "//"), or in both.
std::string duplicateEntryText(const std::string& first, const std::string& second);

} // namespace quendle
