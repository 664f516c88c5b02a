#pragma once
#include "archive/ZipWriter.h"
#include "archive/ZipWriterHooks.h"
#include "os/Sha256.h"
#include "xml/XmlOutput.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quendle {

// Builds "AppxBlockMap.xml" while the archive is packed: every entry added through writer()
// gets a File element, every 64 KiB chunk a Block with its SHA-256 and, when deflated, the
// exact size of its independently inflatable compressed piece (chunks end in a full flush).
// finish() adds the map itself; entries added after it are outside the map.
class BlockMapBuilder : private ZipWriterHooks, private ZipEntryListener {
  public:
    static constexpr const char* EntryName = "AppxBlockMap.xml";

    BlockMapBuilder();
    ~BlockMapBuilder() override;
    BlockMapBuilder(const BlockMapBuilder&) = delete;
    BlockMapBuilder& operator=(const BlockMapBuilder&) = delete;

    // Creates the archive and starts the map beside it; false (writer().failure() says why) when
    // the archive cannot be created: then no map is started and every later add fails.
    // `blockMapPath` empty: beside the archive.
    bool open(const std::string& archivePath, const std::string& blockMapPath = {});
    // Completes the map and adds it as "AppxBlockMap.xml"; later entries are not flushed per chunk.
    // `when` overrides the map file's own time.
    bool finish(std::optional<DosDateTime> when = std::nullopt);
    ZipWriter& writer() { return writer_; }
    // Where the map file is written (beside the archive).
    const std::string& blockMapPath() const { return blockMapPath_; }

  private:
    ZipEntryListener* entryListener() override { return this; }
    int flushMode() override { return flushMode_; }
    size_t readChunkSize() override { return 65536; }
    size_t outputBufferSize() override { return 131072; }
    std::string encodeEntryName(const std::string& name) override;

    void beginFile(uint64_t localHeaderSize, uint64_t fileSize, const std::string& entryName) override;
    void endFile() override;
    void deflatedChunk(const uint8_t* data, size_t length, uint64_t compressedBytes) override;
    void storedChunk(const uint8_t* data, size_t length) override;
    void entryDone(uint64_t) override {}
    void copiedChunk(const Sha256Digest& hash, uint64_t compressedBytes) override;
    bool wantsChunkHashes() const override { return document_ != nullptr; }

    void writeBlock(const uint8_t* data, size_t length, uint64_t compressedBytes);
    void writeBlock(const Sha256Digest& digest, uint64_t compressedBytes);

    ZipWriter writer_;
    std::string blockMapPath_;
    std::unique_ptr<XmlOutput> document_;
    int flushMode_;
    SHA256 sha_;
};

} // namespace quendle
