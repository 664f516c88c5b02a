#pragma once
#include "os/Sha256.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quendle {

// Sees one entry while it is written: its header size, every chunk of its data and, for
// deflated data, how many compressed bytes each chunk produced.
class ZipEntryListener {
  public:
    virtual ~ZipEntryListener() = default;
    virtual void beginFile(uint64_t localHeaderSize, uint64_t fileSize, const std::string& entryName) = 0;
    virtual void endFile() = 0;
    virtual void deflatedChunk(const uint8_t* data, size_t length, uint64_t compressedBytes) = 0;
    virtual void storedChunk(const uint8_t* data, size_t length) = 0;
    virtual void entryDone(uint64_t compressedSize) = 0;
    // True when the listener takes the SHA-256 of each deflated chunk through copiedChunk
    // instead of its data, so that the hash is computed on the thread that compressed it.
    virtual bool wantsChunkHashes() const { return false; }
    // A block copied from another archive, or compressed, checked and hashed already.
    virtual void copiedChunk(const Sha256Digest& hash, uint64_t compressedBytes) {
        (void)hash, (void)compressedBytes;
    }
};

// Lets the owner of a ZipWriter shape how entries are written.
class ZipWriterHooks {
  public:
    virtual ~ZipWriterHooks() = default;
    // The listener for the next entry, or nullptr.
    virtual ZipEntryListener* entryListener() = 0;
    // zlib flush value passed to deflate after every chunk.
    virtual int flushMode() = 0;
    // 0 keeps the default of 65,536 bytes.
    virtual size_t readChunkSize() = 0;
    // 0 keeps the default of 131,072 bytes.
    virtual size_t outputBufferSize() = 0;
    // The bytes stored as the entry name for a package-style name with backslashes.
    virtual std::string encodeEntryName(const std::string& name) = 0;
};

} // namespace quendle
