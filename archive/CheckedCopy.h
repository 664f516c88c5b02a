#pragma once
#include "archive/ArchivedEntry.h"
#include "os/ArchiveFile.h"
#include "os/ByteSource.h"
#include "os/Sha256.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quendle {

class WorkerPool;

// Copies the compressed bytes of an unchanged entry into the new archive, checking them on the
// way: every block (sizes from the old block map) must inflate on its own into exactly 64 KiB
// (the remainder for the last), the bytes after the blocks must end the stream, and the CRC-32
// of the whole must be the entry's. The new block map's hashes come from the inflated bytes.
class CheckedCopy {
  public:
    enum class Result { Copied, NotAligned, CrcMismatch, ReadFailed, WriteFailed };
    struct Block {
        Sha256Digest hash;
        uint32_t compressedSize;
    };

    // Whether the old block map describes the entry so that its blocks can be copied at all
    // (never an empty entry: it is written afresh).
    static bool canCopy(const ArchivedEntry& entry);

    explicit CheckedCopy(WorkerPool& pool);
    ~CheckedCopy();
    CheckedCopy(const CheckedCopy&) = delete;
    CheckedCopy& operator=(const CheckedCopy&) = delete;

    // Appends the payload to `archive`; on any result but Copied the caller truncates it away.
    Result run(ByteSource& compressed, const ArchivedEntry& entry, ArchiveFile& archive);

    // The archived entries in the order the save will copy them. Entries of a single block are
    // then checked ahead, many at a time on all threads: one alone is not worth a thread, and a
    // package holds thousands of them.
    void plan(std::vector<const ArchivedEntry*> order);
    using RawOpener = std::function<std::unique_ptr<ByteSource>(const ArchivedEntry&)>;
    // The compressed payload of `entry` when it was checked ahead and passed, with its block in
    // blocks(); nullptr when it was not (the caller then copies it with run(), which also tells
    // why it fails). The bytes stay valid until the next call.
    const uint8_t* checkedAhead(const ArchivedEntry& entry, const RawOpener& open);

    const std::vector<Block>& blocks() const { return blocks_; }
    // Blocks whose hash in the old block map disagreed with their data.
    size_t wrongOldHashes() const { return wrongOldHashes_; }

    // Helper threads that check blocks: QUENDLE_THREADS when set, else one fewer than the
    // processors online (at least one). The result never depends on it.
    static size_t threadCount();
    // Whether blocks are inflated with ISA-L (when built with it) rather than zlib.
    static bool useIsal();

    // A deflated block may not be larger than this: 64 KiB stored, with headers and the flush.
    static constexpr uint32_t MaxBlockBytes = BlockSize + 1024;

  private:
    struct Inflater;
    // One thread's tools: blocks are checked on all cores, each with its own.
    struct Worker;
    struct Piece;
    static bool inflateBlock(Worker& worker, const uint8_t* data, size_t length, size_t expected, bool last,
                             bool& ended);
    static void checkPiece(Worker& worker, const uint8_t* input, Piece& piece);
    static bool endsStream(Worker& worker, const uint8_t* trailer, size_t length, bool blocksEnded);
    static Result checkWhole(Worker& worker, const uint8_t* payload, const ArchivedEntry& entry,
                             Block& block);
    struct Window;
    void readWindow(Window& window, size_t from, const RawOpener& open);
    void startCheck(Window& window);

    WorkerPool& pool_;
    std::vector<std::unique_ptr<Worker>> workers_; // one per pool slot
    std::vector<const ArchivedEntry*> plan_;
    size_t planned_ = 0; // the first entry of the plan not reached yet
    // Two windows of entries checked ahead: the one being copied, and the one after it, read
    // and then checked by the helpers while this thread writes out the first.
    struct Ahead {
        size_t at;
        Result result;
        Block block;
    };
    struct Window {
        size_t start = 0; // plan_[start ...]
        std::vector<Ahead> entries;
        std::vector<uint8_t> input; // their payloads
    };
    Window windows_[2];
    int current_ = 0;
    std::function<void(size_t, size_t)> checkNext_; // the pool's work for the window after
    std::vector<uint8_t> input_[2];                 // one batch is read while the other is checked
    std::vector<Block> blocks_;
    size_t wrongOldHashes_ = 0;
};

} // namespace quendle
