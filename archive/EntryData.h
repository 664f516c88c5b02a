#pragma once
#include "archive/ZipCompression.h"
#include "archive/ZipWriterHooks.h"
#include "os/ArchiveFile.h"
#include "os/ByteSource.h"

#include <cstdint>
#include <memory>

namespace quendle {

class WorkerPool;

constexpr size_t DefaultReadChunkSize = 65536;
constexpr size_t DefaultOutputBufferSize = 131072;

// Writes one entry's payload: reads the source once, in chunks, updating the CRC and telling
// the listener about every chunk.
class EntryData {
  public:
    virtual ~EntryData() = default;
    // False at any read, write or compression failure; the archive keeps what was appended.
    virtual bool write(ByteSource& source, ArchiveFile& archive) = 0;
    // Payload bytes written.
    uint64_t size() const { return compressed_; }
    uint32_t crc() const { return crc_; }

  protected:
    EntryData(ZipEntryListener* listener, size_t chunkSize)
        : listener_(listener), chunkSize_(chunkSize ? chunkSize : DefaultReadChunkSize) {}

    ZipEntryListener* listener_;
    size_t chunkSize_;
    uint64_t compressed_ = 0;
    uint32_t crc_ = 0;
};

class StoredEntryData : public EntryData {
  public:
    StoredEntryData(ZipEntryListener* listener, size_t chunkSize) : EntryData(listener, chunkSize) {}
    bool write(ByteSource& source, ArchiveFile& archive) override;
};

class DeflatedEntryData : public EntryData {
  public:
    // `pool` compresses the blocks of the package save on its threads.
    DeflatedEntryData(ZipEntryListener* listener, size_t chunkSize, size_t outputSize, int level,
                      int flushMode, WorkerPool* pool)
        : EntryData(listener, chunkSize), outputSize_(outputSize ? outputSize : DefaultOutputBufferSize),
          level_(level), flushMode_(flushMode), pool_(pool) {}
    bool write(ByteSource& source, ArchiveFile& archive) override;

  private:
    bool writeParallel(ByteSource& source, ArchiveFile& archive);

    size_t outputSize_;
    int level_;
    int flushMode_;
    WorkerPool* pool_;
};

// The payload writer for a compression choice; nullptr for a value outside the four choices.
std::unique_ptr<EntryData> makeEntryData(ZipCompression compression, ZipWriterHooks* hooks,
                                         ZipEntryListener* listener, WorkerPool* pool);

} // namespace quendle
