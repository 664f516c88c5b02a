#pragma once
#include "archive/ExtractProgress.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct zip;

namespace quendle {

class ExtractDestination;

// Extracts every entry of a ZIP or ZIP64 archive into a folder, with percent-decoded names.
// Failures are false results (plus one reportError on the progress); errorText() says why.
// Hostile archives are refused before anything is written: names that are absolute, carry a
// drive letter or climb out with "..", two entries for one file (names equal but for letter
// case or separators), names with control characters or bytes that are not UTF-8, entries
// whose data overlaps another's or the central directory (CentralDirectoryCheck.h), and archives
// whose declared sizes exceed the extraction limit. While writing, no entry may produce more
// bytes than it declared.
class ZipReader {
  public:
    explicit ZipReader(ExtractProgress* progress = nullptr);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool open(const std::string& archivePath);
    // Appends the host path of every extracted file (not folders) to `extracted`. With a
    // `destinationFd`, the destination is that open folder and is reached only through it.
    bool extractAll(const std::string& destination, std::vector<std::string>& extracted,
                    int destinationFd = -1);
    void close();

    // Open, extract and close; false when any of them fails.
    static bool extract(const std::string& archivePath, const std::string& destination,
                        ExtractProgress* progress, std::vector<std::string>& extracted,
                        uint64_t extractionLimit = 0);

    // The most bytes one extraction may write. 0 (the default) means the space free on the
    // destination's file system, less a reserve for the rest of the system: a tenth of that
    // space, at most FreeSpaceReserve.
    void setExtractionLimit(uint64_t bytes) { extractionLimit_ = bytes; }
    // Why the last open or extraction failed, for diagnostics; empty after success.
    const std::string& errorText() const { return errorText_; }

    static constexpr size_t BufferSize = 512000;
    static constexpr uint64_t FreeSpaceReserve = 256ull * 1024 * 1024;

  private:
    struct ArchiveCloser {
        void operator()(zip* archive) const;
    };
    struct Entry {
        uint64_t index;
        std::string name;
        std::vector<std::string> components;
        bool isFolder;
        uint64_t size;
    };

    bool fail(std::string why);
    bool readEntries(std::vector<Entry>& entries);
    bool extractFile(ExtractDestination& destination, const Entry& entry, uint64_t& written, uint64_t limit);

    std::unique_ptr<zip, ArchiveCloser> archive_;
    std::vector<char> buffer_;
    ExtractProgress* progress_;
    uint64_t totalUncompressed_ = 0;
    uint64_t totalCompressed_ = 0;
    uint64_t extractionLimit_ = 0;
    std::string errorText_;
};

} // namespace quendle
