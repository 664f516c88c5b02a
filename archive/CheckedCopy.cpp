#include "archive/CheckedCopy.h"

#include "archive/ZipRecords.h"

#include <zlib.h>
#ifdef QUENDLE_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

namespace quendle {

namespace {

// What the old map may leave after the blocks: the few bytes that end the stream.
constexpr uint64_t MaxTrailerBytes = 64;
// Raw bytes gathered before one write to the new archive.
constexpr size_t CopyBatchBytes = 1 << 20;

#ifndef QUENDLE_HAVE_ISAL
// inflate's data_type: unused bits (low 6), the final block (64), stopped at a block boundary (128).
bool atByteAlignedBoundary(int dataType) {
    return (dataType & 0x1FF) == 128;
}
#endif

} // namespace

struct CheckedCopy::Inflater {
    z_stream z{};
    bool ok = false;
    Inflater() { ok = inflateInit2(&z, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ok)
            inflateEnd(&z);
    }
#ifdef QUENDLE_HAVE_ISAL
    inflate_state isal{};
#endif
};

uint32_t CheckedCopy::updateCrc(uint32_t crc, const uint8_t* data, size_t length) {
#ifdef QUENDLE_HAVE_ISAL
    return crc32_gzip_refl(crc, data, length);
#else
    return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(length)));
#endif
}

CheckedCopy::CheckedCopy() : inflater_(std::make_unique<Inflater>()) {}

CheckedCopy::~CheckedCopy() = default;

bool CheckedCopy::canCopy(const ArchivedEntry& entry) {
    if (!entry.mapped || entry.method != MethodDeflated || entry.blockSizes.size() != entry.blockCount() ||
        entry.blockHashes.size() != entry.blockSizes.size())
        return false;
    uint64_t sum = 0;
    for (uint32_t size : entry.blockSizes) {
        if (size == 0 || size > MaxBlockBytes)
            return false;
        sum += size;
    }
    return sum <= entry.compressedSize && entry.compressedSize - sum <= MaxTrailerBytes;
}

// Inflates one piece with a fresh state. `ended` tells whether the piece closed the stream.
bool CheckedCopy::inflateBlock(const uint8_t* data, size_t length, size_t expected, bool last, bool& ended) {
#ifdef QUENDLE_HAVE_ISAL
    inflate_state& s = inflater_->isal;
    isal_inflate_init(&s);
    s.next_in = const_cast<uint8_t*>(data);
    s.avail_in = static_cast<uint32_t>(length);
    s.next_out = output_.data();
    s.avail_out = static_cast<uint32_t>(expected + 1);
    if (isal_inflate(&s) != ISAL_DECOMP_OK || s.avail_in != 0 || expected + 1 - s.avail_out != expected)
        return false;
    ended = s.block_state == ISAL_BLOCK_FINISH;
    if (ended)
        return last;
    // Stopped where the next block's header would begin, with no bit of it read.
    return (s.block_state == ISAL_BLOCK_NEW_HDR || s.block_state == ISAL_BLOCK_HDR) &&
           s.read_in_length == 0 && s.tmp_in_size == 0 && !s.bfinal;
#else
    z_stream& z = inflater_->z;
    if (!inflater_->ok || inflateReset(&z) != Z_OK)
        return false;
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = static_cast<uInt>(length);
    z.next_out = output_.data();
    // One byte of room beyond the expectation, so that a block producing more is caught.
    z.avail_out = static_cast<uInt>(expected + 1);
    ended = false;
    while (z.avail_in > 0) {
        uInt before = z.avail_in;
        // Z_BLOCK stops at block boundaries, so data_type tells where the piece ended.
        int rc = inflate(&z, Z_BLOCK);
        if (rc == Z_STREAM_END) {
            ended = true;
            break;
        }
        if (rc != Z_OK || (z.avail_in == before && rc == Z_OK && z.avail_out == 0))
            return false;
    }
    // Z_BLOCK stops before it notices that the block it finished was the final one.
    if (!ended && (z.data_type & 64) && (z.data_type & 128))
        ended = inflate(&z, Z_BLOCK) == Z_STREAM_END;
    size_t produced = expected + 1 - z.avail_out;
    if (produced != expected || z.avail_in != 0)
        return false;
    return ended ? last : atByteAlignedBoundary(z.data_type);
#endif
}

CheckedCopy::Result CheckedCopy::run(ByteSource& compressed, const ArchivedEntry& entry,
                                     ArchiveFile& archive) {
    blocks_.clear();
    wrongOldHashes_ = 0;
    if (!canCopy(entry))
        return Result::NotAligned;
    if (input_.empty()) {
        input_.resize(CopyBatchBytes + MaxBlockBytes);
        output_.resize(BlockSize + 1);
    }
    blocks_.reserve(entry.blockSizes.size());
    uint32_t crc = 0;
    uint64_t left = entry.size;
    size_t batched = 0;
    bool ended = false;
    auto flushBatch = [&] {
        bool ok = batched == 0 || archive.append(input_.data(), batched);
        batched = 0;
        return ok;
    };
    for (size_t i = 0; i < entry.blockSizes.size(); ++i) {
        uint32_t pieceSize = entry.blockSizes[i];
        if (batched + pieceSize > input_.size() && !flushBatch())
            return Result::WriteFailed;
        uint8_t* piece = input_.data() + batched;
        if (!compressed.readExact(piece, pieceSize))
            return Result::ReadFailed;
        size_t expected = left < BlockSize ? static_cast<size_t>(left) : BlockSize;
        bool last = i + 1 == entry.blockSizes.size();
        if (ended || !inflateBlock(piece, pieceSize, expected, last, ended))
            return Result::NotAligned;
        batched += pieceSize;
        crc = updateCrc(crc, output_.data(), expected);
        Sha256Digest hash = sha_.hash(output_.data(), expected);
        if (hash != entry.blockHashes[i])
            ++wrongOldHashes_;
        blocks_.push_back({hash, pieceSize});
        left -= expected;
    }
    uint64_t trailer = entry.compressedSize;
    for (uint32_t size : entry.blockSizes)
        trailer -= size;
    if (trailer > 0) {
        if (ended || batched + trailer > input_.size())
            return Result::NotAligned;
        uint8_t* piece = input_.data() + batched;
        if (!compressed.readExact(piece, static_cast<size_t>(trailer)))
            return Result::ReadFailed;
        if (!inflateBlock(piece, static_cast<size_t>(trailer), 0, true, ended) || !ended)
            return Result::NotAligned;
        batched += static_cast<size_t>(trailer);
    } else if (!ended) {
        return Result::NotAligned;
    }
    if (crc != entry.crc)
        return Result::CrcMismatch;
    return flushBatch() ? Result::Copied : Result::WriteFailed;
}

} // namespace quendle
