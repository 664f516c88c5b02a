#include "archive/EntryData.h"

#include "archive/CheckedCopy.h"
#include "archive/Crc32.h"
#include "archive/WorkerPool.h"
#include "os/Sha256.h"

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <vector>
#include <zlib.h>
#ifdef QUENDLE_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace quendle {

namespace {

// Owns a raw-deflate stream from init to end.
class DeflateStream {
  public:
    explicit DeflateStream(int level) {
        ok_ = deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~DeflateStream() {
        if (ok_)
            deflateEnd(&stream_);
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;
    bool ok() const { return ok_; }
    z_stream* get() { return &stream_; }
    // Ends the stream; false when zlib reports that it was not finished cleanly.
    bool end() {
        ok_ = false;
        return deflateEnd(&stream_) == Z_OK;
    }

  private:
    z_stream stream_{};
    bool ok_ = false;
};

} // namespace

bool StoredEntryData::write(ByteSource& source, ArchiveFile& archive) {
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(chunkSize_);
    uint64_t left = source.size();
    while (left > 0) {
        size_t n = left < chunkSize_ ? static_cast<size_t>(left) : chunkSize_;
        if (!source.readExact(buffer.get(), n))
            return false;
        crc_ = crc32Update(crc_, buffer.get(), n);
        if (!archive.append(buffer.get(), n))
            return false;
        compressed_ += n;
        if (listener_)
            listener_->storedChunk(buffer.get(), n);
        left -= n;
    }
    if (listener_)
        listener_->entryDone(compressed_);
    return true;
}

bool DeflatedEntryData::write(ByteSource& source, ArchiveFile& archive) {
    if (source.size() == 0) {
        // What zlib emits for a finished stream without input: a valid, empty deflate payload.
        static constexpr uint8_t emptyStream[] = {0x03, 0x00};
        if (!archive.append(emptyStream, sizeof emptyStream))
            return false;
        compressed_ = sizeof emptyStream;
        if (listener_)
            listener_->entryDone(compressed_);
        return true;
    }
    // A full flush after every chunk makes each chunk's bytes independent of the others, so
    // the chunks can be compressed on all threads and still give exactly the serial stream.
    if (flushMode_ == Z_FULL_FLUSH && chunkSize_ <= 65536)
        return writeParallel(source, archive);
    DeflateStream deflater(level_);
    if (!deflater.ok())
        return false;
    z_stream* z = deflater.get();
    auto input = std::make_unique_for_overwrite<uint8_t[]>(chunkSize_);
    auto output = std::make_unique_for_overwrite<uint8_t[]>(outputSize_);
    size_t pending = 0; // bytes waiting in the output buffer

    auto drain = [&]() {
        if (pending == 0)
            return true;
        if (!archive.append(output.get(), pending))
            return false;
        compressed_ += pending;
        pending = 0;
        return true;
    };
    // Runs deflate with `flush` until it needs more input (or, for Z_FINISH, the stream ends).
    auto run = [&](int flush) {
        for (;;) {
            z->next_out = output.get() + pending;
            z->avail_out = static_cast<uInt>(outputSize_ - pending);
            int rc = deflate(z, flush);
            pending = outputSize_ - z->avail_out;
            if (rc == Z_STREAM_ERROR)
                return false;
            bool full = z->avail_out == 0;
            if (full && !drain())
                return false;
            if (flush == Z_FINISH ? rc == Z_STREAM_END : (!full && z->avail_in == 0))
                return true;
            if (rc == Z_BUF_ERROR && !full)
                return false;
        }
    };

    uint64_t left = source.size();
    while (left > 0) {
        size_t n = left < chunkSize_ ? static_cast<size_t>(left) : chunkSize_;
        if (!source.readExact(input.get(), n))
            return false;
        crc_ = crc32Update(crc_, input.get(), n);
        uLong before = z->total_out;
        z->next_in = input.get();
        z->avail_in = static_cast<uInt>(n);
        if (!run(flushMode_))
            return false;
        if (listener_)
            listener_->deflatedChunk(input.get(), n, z->total_out - before);
        left -= n;
    }
    if (!run(Z_FINISH) || !drain())
        return false;
    if (!deflater.end())
        return false;
    if (listener_)
        listener_->entryDone(compressed_);
    return true;
}

namespace {

// Compresses one chunk of at most 64 KiB on its own, from a fresh stream, into non-final blocks
// that end byte-aligned after a full flush: the bytes depend on the chunk alone, so any thread
// may do it. zlib's stream restarted after a full flush gives these same bytes, which is what
// keeps the parallel output equal to the serial one.
class ChunkCompressor {
  public:
    // Level 1 goes to ISA-L where the build has it: about four times as fast as zlib.
    explicit ChunkCompressor(int level) : level_(level) {
#ifdef QUENDLE_HAVE_ISAL
        if (level_ == 1) {
            isalLevel_ = std::make_unique_for_overwrite<uint8_t[]>(ISAL_DEF_LVL1_DEFAULT);
            return;
        }
#endif
        zlib_ = std::make_unique<DeflateStream>(level_);
    }

    // Room for any 64 KiB chunk: stored blocks with their headers, and the flush.
    static constexpr size_t Capacity = 65536 + 65536 / 8 + 1024;
    struct Output {
        std::unique_ptr<uint8_t[]> data = std::make_unique_for_overwrite<uint8_t[]>(Capacity);
        size_t size = 0;
    };
    bool compress(const uint8_t* data, size_t length, Output& out) {
#ifdef QUENDLE_HAVE_ISAL
        if (isalLevel_)
            return compressIsal(data, length, out);
#endif
        z_stream* z = zlib_->get();
        if (!zlib_->ok() || deflateReset(z) != Z_OK)
            return false;
        z->next_in = const_cast<uint8_t*>(data);
        z->avail_in = static_cast<uInt>(length);
        z->next_out = out.data.get();
        z->avail_out = static_cast<uInt>(Capacity);
        if (deflate(z, Z_FULL_FLUSH) != Z_OK || z->avail_in != 0 || z->avail_out == 0)
            return false;
        out.size = Capacity - z->avail_out;
        return true;
    }

  private:
#ifdef QUENDLE_HAVE_ISAL
    bool compressIsal(const uint8_t* data, size_t length, Output& out) {
        isal_deflate_init(&isal_);
        isal_.level = 1;
        isal_.level_buf = isalLevel_.get();
        isal_.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
        isal_.flush = FULL_FLUSH;
        isal_.next_in = const_cast<uint8_t*>(data);
        isal_.avail_in = static_cast<uint32_t>(length);
        isal_.next_out = out.data.get();
        isal_.avail_out = static_cast<uint32_t>(Capacity);
        if (isal_deflate(&isal_) != COMP_OK || isal_.avail_in != 0 || isal_.avail_out == 0)
            return false;
        out.size = Capacity - isal_.avail_out;
        return true;
    }
    isal_zstream isal_{};
    std::unique_ptr<uint8_t[]> isalLevel_;
#endif
    int level_;
    std::unique_ptr<DeflateStream> zlib_;
};

} // namespace

bool DeflatedEntryData::writeParallel(ByteSource& source, ArchiveFile& archive) {
    std::unique_ptr<WorkerPool> ownPool;
    if (!pool_)
        ownPool = std::make_unique<WorkerPool>(CheckedCopy::threadCount());
    WorkerPool& pool = pool_ ? *pool_ : *ownPool;
    const size_t threads = pool.slots();
    // No bigger than the file needs: most new entries are a few KiB.
    const uint64_t chunksNeeded = (source.size() + chunkSize_ - 1) / chunkSize_;
    const size_t batchChunks = static_cast<size_t>(std::min<uint64_t>(16 * threads, chunksNeeded));
    // A block map takes each chunk's hash from the thread that compressed it.
    const bool hashes = listener_ && listener_->wantsChunkHashes();
    struct Worker {
        explicit Worker(int level) : compressor(level) {}
        ChunkCompressor compressor;
        std::unique_ptr<SHA256> sha;
    };
    // Made by each thread when it first takes a chunk: an entry of one chunk needs one.
    std::vector<std::unique_ptr<Worker>> workers(threads);
    struct Chunk {
        ChunkCompressor::Output output;
        size_t length = 0;
        bool ok = false;
        uint32_t crc = 0;
        Sha256Digest hash{};
    };
    struct Batch {
        std::unique_ptr<uint8_t[]> input;
        std::vector<Chunk> chunks;
        size_t count = 0;
    };
    Batch batches[2];
    // The second batch only when there is more than one.
    for (size_t b = 0; b < (chunksNeeded > batchChunks ? 2 : 1); ++b) {
        batches[b].input = std::make_unique_for_overwrite<uint8_t[]>(chunkSize_ * batchChunks);
        batches[b].chunks.resize(batchChunks);
    }
    uint64_t left = source.size();
    auto readBatch = [&](Batch& batch) {
        batch.count = 0;
        size_t bytes = 0;
        while (left > 0 && batch.count < batchChunks) {
            size_t n = left < chunkSize_ ? static_cast<size_t>(left) : chunkSize_;
            batch.chunks[batch.count++].length = n;
            bytes += n;
            left -= n;
        }
        return bytes == 0 || source.readExact(batch.input.get(), bytes);
    };
    auto writeBatch = [&](Batch& batch) {
        for (size_t i = 0; i < batch.count; ++i) {
            const Chunk& chunk = batch.chunks[i];
            if (!chunk.ok || !archive.append(chunk.output.data.get(), chunk.output.size))
                return false;
            crc_ = static_cast<uint32_t>(crc32_combine(crc_, chunk.crc, static_cast<z_off_t>(chunk.length)));
            compressed_ += chunk.output.size;
            if (hashes)
                listener_->copiedChunk(chunk.hash, chunk.output.size);
            else if (listener_)
                listener_->deflatedChunk(batch.input.get() + i * chunkSize_, chunk.length, chunk.output.size);
        }
        return true;
    };

    // While the helpers compress one batch, this thread writes the one before and reads the one
    // after. Every chunk is compressed on its own, so the bytes never depend on the threads.
    Batch* previous = nullptr;
    Batch* current = &batches[0];
    if (!readBatch(*current))
        return false;
    while (current->count > 0) {
        Batch* following = current == &batches[0] ? &batches[1] : &batches[0];
        bool ok = true;
        pool.run(
            current->count,
            [&](size_t slot, size_t i) {
                if (!workers[slot]) {
                    workers[slot] = std::make_unique<Worker>(level_);
                    if (hashes)
                        workers[slot]->sha = std::make_unique<SHA256>();
                }
                Worker& worker = *workers[slot];
                Chunk& chunk = current->chunks[i];
                const uint8_t* data = current->input.get() + i * chunkSize_;
                chunk.ok = worker.compressor.compress(data, chunk.length, chunk.output);
                chunk.crc = crc32Update(0, data, chunk.length);
                if (hashes)
                    chunk.hash = worker.sha->hash(data, chunk.length);
            },
            [&] { ok = (!previous || writeBatch(*previous)) && readBatch(*following); });
        if (!ok)
            return false;
        previous = current;
        current = following;
    }
    if (previous && !writeBatch(*previous))
        return false;
    // The stream ends with an empty final block.
    static constexpr uint8_t finalBlock[] = {0x03, 0x00};
    if (!archive.append(finalBlock, sizeof finalBlock))
        return false;
    compressed_ += sizeof finalBlock;
    if (listener_)
        listener_->entryDone(compressed_);
    return true;
}

std::unique_ptr<EntryData> makeEntryData(ZipCompression compression, ZipWriterHooks* hooks,
                                         ZipEntryListener* listener, WorkerPool* pool) {
    size_t chunk = hooks ? hooks->readChunkSize() : 0;
    size_t output = hooks ? hooks->outputBufferSize() : 0;
    int flush = hooks ? hooks->flushMode() : Z_NO_FLUSH;
    switch (compression) {
    case ZipCompression::Stored:
        return std::make_unique<StoredEntryData>(listener, chunk);
    case ZipCompression::SuperFast:
        return std::make_unique<DeflatedEntryData>(listener, chunk, output, 1, flush, pool);
    case ZipCompression::Maximum:
        return std::make_unique<DeflatedEntryData>(listener, chunk, output, 9, flush, pool);
    case ZipCompression::Normal:
        return std::make_unique<DeflatedEntryData>(listener, chunk, output, Z_DEFAULT_COMPRESSION, flush,
                                                   pool);
    }
    return nullptr;
}

} // namespace quendle
