#pragma once
#include "archive/ArchivedEntry.h"
#include "archive/PackedBytes.h"
#include "archive/ZipCompression.h"
#include "archive/ZipRecords.h"
#include "archive/ZipWriterHooks.h"
#include "core/Failure.h"
#include "os/ArchiveFile.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quendle {

class ZipReader;
class CheckedCopy;
class WorkerPool;

// Writes a new ZIP64 container one entry at a time: every entry has a local header with
// bit 3, its payload and a 24-byte ZIP64 data descriptor; close() writes the central
// directory (always with the ZIP64 extra), the ZIP64 end record, its locator and an end
// record of 0xFF fields. Failures are false results; exceptions come only from the hooks.
class ZipWriter {
  public:
    explicit ZipWriter(ZipWriterHooks* hooks = nullptr);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Creates the archive file anew; false (failure() says why) when that fails.
    bool open(const std::string& archivePath);
    bool isOpen() const { return archive_.isOpen(); }

    // Adds the file at `sourcePath` under `entryName` (a package-style name with backslashes).
    // `when` overrides the source file's time.
    bool addEntry(const std::string& sourcePath, const std::string& entryName, ZipCompression compression,
                  std::optional<DosDateTime> when = std::nullopt);

    // How an entry of another archive reached this one.
    struct CopyOutcome {
        bool copied = false;  // its compressed bytes as they were, checked block by block
        bool damaged = false; // its data contradict its checksum or its declared size
        size_t wrongOldHashes = 0;
    };
    // Adds an entry of `reader`'s archive as a SuperFast entry: its compressed bytes are copied
    // when its blocks line up with the old block map, otherwise it is inflated and compressed
    // again. False on failure, with `outcome.damaged` telling a corrupt entry from a failed write.
    bool addArchivedEntry(ZipReader& reader, const ArchivedEntry& entry, const std::string& entryName,
                          DosDateTime when, CopyOutcome& outcome);

    // The entries of `reader`'s archive that will be added, in that order, so that small ones can
    // be checked ahead many at a time. Optional: without it each is checked when it is added.
    void planArchivedEntries(std::vector<const ArchivedEntry*> order);

    // Writes the central directory and the end records and closes the file.
    bool close();

    size_t entryCount() const { return centralCount_; }
    // Why the last open, add or close failed, with the system's error where there was one.
    const Failure& failure() const { return failure_; }

    // The flag bits and method a compression choice gives; method -1 for an unknown choice.
    static uint16_t flagsFor(ZipCompression compression);
    static int methodFor(ZipCompression compression);

  private:
    bool fail(Failure why);
    bool failWriting();
    void keepCentral(const CentralDirectoryHeader& header);
    WorkerPool& pool();
    CheckedCopy& copier();

    ZipWriterHooks* hooks_;
    std::unique_ptr<WorkerPool> pool_;    // the helper threads of every entry, started once
    std::unique_ptr<CheckedCopy> copier_; // kept from entry to entry: its buffers and threads' tools
    ArchiveFile archive_;
    // The central directory's bytes, kept as they will be written (a header object per entry
    // would cost several times as much with 100,000 entries) and compressed until then.
    PackedBytes central_;
    size_t centralCount_ = 0;
    Zip64EndOfCentralDirectory zip64End_;
    Zip64EndLocator locator_;
    EndOfCentralDirectory end_;
    Failure failure_;
};

} // namespace quendle
