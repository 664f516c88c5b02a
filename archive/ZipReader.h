#pragma once
#include "archive/ArchivedEntry.h"
#include "archive/CentralDirectoryCheck.h"
#include "archive/ExtractProgress.h"
#include "core/Failure.h"
#include "os/ByteSource.h"
#include "os/RandomAccessFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quendle {

class ExtractDestination;

// Extracts every entry of a ZIP or ZIP64 archive into a folder, with percent-decoded names.
// Failures are false results (plus one reportError on the progress); failure() says why.
// Hostile archives are refused before anything is written: names that are absolute, carry a
// drive letter or climb out with "..", two entries for one file (names equal but for letter
// case or separators), names with control characters or bytes that are not UTF-8, entries
// whose data overlaps another's or the central directory (CentralDirectoryCheck.h), and archives
// whose declared sizes exceed the extraction limit. While writing, no entry may produce more
// bytes than it declared.
class ZipReader {
  public:
    // One entry of the directory, with its name decoded and split.
    struct Entry {
        ArchivedEntry archived;
        std::string name;
        std::vector<std::string> components;
        bool isFolder = false;
    };

    // The data of one entry, read front to back: inflated (never more than the entry declares;
    // the CRC-32 is checked at the end) or as the raw compressed bytes.
    class EntryStream : public ByteSource {
      public:
        ~EntryStream() override;
        uint64_t size() const override { return size_; }
        bool readExact(void* buffer, size_t length) override;
        // False when the entry holds data beyond its declared end or its checksum fails.
        bool atCleanEnd();
        // Why a read failed; none when the data simply stopped short or ran on.
        const Failure& failure() const { return failure_; }
        // The archive's bytes before what this stream has read will not be needed again (a save
        // copies the entries front to back): their cached pages may go as the stream moves on.
        void forgetBehind() { forgetBehind_ = true; }

      private:
        friend class ZipReader;
        struct Inflater;
        EntryStream(const RandomAccessFile& file, uint64_t dataOffset, const ArchivedEntry& entry, bool raw);
        bool fill();
        bool inflateInto(uint8_t* out, size_t length, size_t& produced);

        const RandomAccessFile& file_;
        uint64_t next_; // the next stored byte to read
        uint64_t left_; // stored bytes not read yet
        uint64_t size_; // what the stream gives
        uint64_t given_ = 0;
        uint32_t expectedCrc_;
        uint32_t crc_ = 0;
        bool raw_;
        bool forgetBehind_ = false;
        std::unique_ptr<Inflater> inflater_; // only for a deflated entry read inflated
        Failure failure_;
    };

    explicit ZipReader(ExtractProgress* progress = nullptr);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool open(const std::string& archivePath);
    // Appends the host path of every extracted file (not folders) to `extracted`. With a
    // `destinationFolder`, the destination is that open folder and is reached only through it.
    bool extractAll(const std::string& destination, std::vector<std::string>& extracted,
                    const FileHandle* destinationFolder = nullptr);
    void close();

    // Reads the directory with the checks that need no data: names, duplicates, declared sizes.
    bool readDirectory(std::vector<Entry>& entries);
    // The same, one entry at a time, so that a directory of 100,000 entries is never held twice.
    // Entries handed over before a failure were fine themselves; the archive is still refused.
    bool readDirectory(const std::function<void(Entry&&)>& onEntry);
    // Extracts the given entries of the directory (files only) below `destination`.
    bool extractEntries(const std::string& destination, const std::vector<const Entry*>& selected,
                        std::vector<std::string>& extracted, const FileHandle* destinationFolder = nullptr);
    // nullptr (failure() says why) when the entry cannot be opened.
    std::unique_ptr<EntryStream> openEntry(const ArchivedEntry& entry, bool raw);

    // Open, extract and close; false when any of them fails.
    static bool extract(const std::string& archivePath, const std::string& destination,
                        ExtractProgress* progress, std::vector<std::string>& extracted,
                        uint64_t extractionLimit = 0);

    // The most bytes one extraction may write. 0 (the default) means the space free on the
    // destination's file system, less a reserve for the rest of the system: a tenth of that
    // space, at most FreeSpaceReserve.
    void setExtractionLimit(uint64_t bytes) { extractionLimit_ = bytes; }
    // Why the last open or extraction failed; none after success.
    const Failure& failure() const { return failure_; }

    static constexpr size_t BufferSize = 512000;
    static constexpr uint64_t FreeSpaceReserve = 256ull * 1024 * 1024;

  private:
    bool fail(Failure why);
    bool readEntries(const std::function<void(Entry&&)>& onEntry);
    bool extractFile(ExtractDestination& destination, const Entry& entry, uint64_t& written, uint64_t limit);

    bool findDuplicates(DirectoryRecordReader& reader, std::vector<std::pair<uint64_t, uint64_t>>& keys);

    RandomAccessFile file_;
    DirectoryLocation location_;
    bool open_ = false;
    std::vector<char> buffer_;
    ExtractProgress* progress_;
    uint64_t totalUncompressed_ = 0;
    uint64_t totalCompressed_ = 0;
    uint64_t extractionLimit_ = 0;
    Failure failure_;
};

} // namespace quendle
