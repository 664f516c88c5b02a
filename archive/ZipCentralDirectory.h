#pragma once
#include "archive/VerifyProblem.h"
#include "archive/CentralDirectoryCheck.h"
#include "os/RandomAccessFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quendle {

// One entry as the central directory describes it, with the ZIP64 extra already applied and
// the fields of its local header read beside it.
struct ZipDirectoryEntry {
    DirectoryRecord stored; // the record as stored, its name's bytes included
    std::string name;       // percent-decoded, with "\" separators: the package path
    // From the local header (0 when it could not be read).
    uint32_t localHeaderSize = 0; // 30 + name + extra
    uint64_t dataOffset = 0;
    bool isFolder() const { return !name.empty() && (name.back() == '\\' || name.back() == '/'); }
};

// Reads an archive's end records, central directory and local headers itself, so that each
// disagreement between them can be named. Nothing is trusted for allocation beyond the file's
// own size. Problems are reported through the callback, one text each; reading goes on where
// it still makes sense.
class ZipCentralDirectory {
  public:
    using ProblemSink = quendle::ProblemSink;

    // False when the file cannot be opened or has no usable central directory.
    bool read(const std::string& archivePath, const ProblemSink& problem);

    const std::vector<ZipDirectoryEntry>& entries() const { return entries_; }
    uint64_t fileSize() const { return fileSize_; }
    uint64_t directoryOffset() const { return location_.offset; }
    bool isZip64() const { return zip64_; }

    // Reads archive bytes at an offset; false at a read error or past the end.
    bool readAt(uint64_t offset, void* buffer, size_t length) const;

  private:
    bool readEndRecords(const ProblemSink& problem);
    bool readDirectory(const ProblemSink& problem);
    void readLocalHeaders(const ProblemSink& problem);
    void checkLayout(const ProblemSink& problem);
    uint64_t descriptorLength(const ZipDirectoryEntry& entry, uint64_t at) const;

    RandomAccessFile file_;
    uint64_t fileSize_ = 0;
    DirectoryLocation location_;
    bool zip64_ = false;
    std::vector<ZipDirectoryEntry> entries_;
};

} // namespace quendle
