#include "archive/CheckedCopy.h"

#include "archive/Crc32.h"
#include "archive/WorkerPool.h"
#include "archive/ZipRecords.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <zlib.h>
#ifdef QUENDLE_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace quendle {

namespace {

// What the old map may leave after the blocks: the few bytes that end the stream.
constexpr uint64_t MaxTrailerBytes = 64;
// Raw bytes read, checked on all threads and written to the new archive at a time (two such
// batches are in flight: one checked while the next is read).
constexpr size_t CopyBatchBytes = 2 << 20;
// Each of the two windows of small entries checked ahead: together as much as one batch.
constexpr size_t WindowBytes = CopyBatchBytes / 2;

// inflate's data_type: unused bits (low 6), the final block (64), stopped at a block boundary (128).
bool atByteAlignedBoundary(int dataType) {
    return (dataType & 0x1FF) == 128;
}

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

struct CheckedCopy::Worker {
    Inflater inflater;
    std::vector<uint8_t> output = std::vector<uint8_t>(BlockSize + 1);
    SHA256 sha;
};

struct CheckedCopy::Piece {
    size_t at;
    uint32_t size;
    size_t expected;
    bool last;
    bool ok = false;
    bool ended = false;
    uint32_t crc = 0;
    Sha256Digest hash{};
};

bool CheckedCopy::useIsal() {
#ifdef QUENDLE_HAVE_ISAL
    // QUENDLE_INFLATER=zlib checks with zlib instead, so that one build can test both inflaters.
    static const bool isal = [] {
        const char* choice = std::getenv("QUENDLE_INFLATER");
        return !choice || std::string_view(choice) != "zlib";
    }();
    return isal;
#else
    return false;
#endif
}

size_t CheckedCopy::threadCount() {
    if (const char* text = std::getenv("QUENDLE_THREADS"); text && *text) {
        long n = std::strtol(text, nullptr, 10);
        if (n >= 1 && n <= 64)
            return static_cast<size_t>(n);
    }
    // The calling thread takes blocks too once its reading and writing are done, so one helper
    // fewer than the processors keeps them all busy without threads crowding each other.
    unsigned n = std::thread::hardware_concurrency();
    return n <= 2 ? 1 : n > 17 ? 16 : n - 1;
}

void CheckedCopy::checkPiece(Worker& worker, const uint8_t* input, Piece& p) {
    p.ok = inflateBlock(worker, input + p.at, p.size, p.expected, p.last, p.ended);
    if (!p.ok)
        return;
    p.crc = crc32Update(0, worker.output.data(), p.expected);
    p.hash = worker.sha.hash(worker.output.data(), p.expected);
}

CheckedCopy::CheckedCopy(WorkerPool& pool) : pool_(pool) {
    for (size_t i = 0; i < pool.slots(); ++i)
        workers_.push_back(std::make_unique<Worker>());
}

CheckedCopy::~CheckedCopy() {
    // The window after may still be checked on the helpers, with this object's buffers.
    pool_.finish();
}

bool CheckedCopy::canCopy(const ArchivedEntry& entry) {
    // An empty file is written afresh as the two-byte empty stream, whatever valid empty stream
    // (or none at all) the old archive had: every reader takes that one.
    if (entry.size == 0 || !entry.mapped || entry.method != MethodDeflated || entry.blocks.size() != entry.blockCount())
        return false;
    uint64_t sum = 0;
    for (const ArchivedEntry::OldBlock& block : entry.blocks) {
        uint32_t size = block.compressedSize;
        if (size == 0 || size > MaxBlockBytes)
            return false;
        sum += size;
    }
    return sum <= entry.compressedSize && entry.compressedSize - sum <= MaxTrailerBytes;
}

// Inflates one piece with a fresh state. `ended` tells whether the piece closed the stream.
bool CheckedCopy::inflateBlock(Worker& worker, const uint8_t* data, size_t length, size_t expected, bool last,
                               bool& ended) {
    std::vector<uint8_t>& output = worker.output;
#ifdef QUENDLE_HAVE_ISAL
    if (useIsal()) {
        inflate_state& s = worker.inflater.isal;
        isal_inflate_init(&s);
        s.next_in = const_cast<uint8_t*>(data);
        s.avail_in = static_cast<uint32_t>(length);
        s.next_out = output.data();
        s.avail_out = static_cast<uint32_t>(expected + 1);
        if (isal_inflate(&s) != ISAL_DECOMP_OK || s.avail_in != 0 || expected + 1 - s.avail_out != expected)
            return false;
        ended = s.block_state == ISAL_BLOCK_FINISH;
        if (ended)
            return last;
        // Stopped where the next block's header would begin, with no bit of it read.
        return (s.block_state == ISAL_BLOCK_NEW_HDR || s.block_state == ISAL_BLOCK_HDR) &&
               s.read_in_length == 0 && s.tmp_in_size == 0 && !s.bfinal;
    }
#endif
    z_stream& z = worker.inflater.z;
    if (!worker.inflater.ok || inflateReset(&z) != Z_OK)
        return false;
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = static_cast<uInt>(length);
    z.next_out = output.data();
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
}

CheckedCopy::Result CheckedCopy::run(ByteSource& compressed, const ArchivedEntry& entry,
                                     ArchiveFile& archive) {
    blocks_.clear();
    wrongOldHashes_ = 0;
    if (!canCopy(entry))
        return Result::NotAligned;
    for (std::vector<uint8_t>& buffer : input_)
        if (buffer.empty())
            buffer.resize(CopyBatchBytes + MaxBlockBytes);
    blocks_.reserve(entry.blocks.size());
    const size_t blockCount = entry.blocks.size();
    uint64_t left = entry.size;
    size_t next = 0; // the first block not read yet
    // Reads the next batch of blocks into `buffer`; false when the source fails.
    auto readBatch = [&](std::vector<uint8_t>& buffer, std::vector<Piece>& pieces, size_t& batched) {
        pieces.clear();
        batched = 0;
        while (next < blockCount && batched + entry.blocks[next].compressedSize <= buffer.size()) {
            uint32_t size = entry.blocks[next].compressedSize;
            size_t expected = left < BlockSize ? static_cast<size_t>(left) : BlockSize;
            pieces.push_back({batched, size, expected, next + 1 == blockCount});
            batched += size;
            left -= expected;
            ++next;
        }
        return batched == 0 || compressed.readExact(buffer.data(), batched);
    };

    uint32_t crc = 0;
    bool ended = false;
    std::vector<Piece> pieces[2];
    size_t batched[2] = {0, 0};
    size_t current = 0;
    if (!readBatch(input_[0], pieces[0], batched[0]))
        return Result::ReadFailed;
    while (!pieces[current].empty()) {
        std::vector<Piece>& now = pieces[current];
        const uint8_t* input = input_[current].data();
        const size_t other = 1 - current;
        bool wrote = true, read = true;
        // The helpers check this batch while this thread writes it (a failed check cuts the
        // entry off again) and reads the next one, then helps with what is left. Each block is
        // checked the same way by whichever thread takes it, so the result is the same for any
        // number of threads.
        pool_.run(
            now.size(), [&](size_t slot, size_t i) { checkPiece(*workers_[slot], input, now[i]); },
            [&] {
                wrote = archive.append(input, batched[current]);
                read = wrote && readBatch(input_[other], pieces[other], batched[other]);
            });
        for (const Piece& p : now) {
            if (ended || !p.ok)
                return Result::NotAligned;
            ended = p.ended;
            crc = static_cast<uint32_t>(crc32_combine(crc, p.crc, static_cast<z_off_t>(p.expected)));
            if (p.hash != entry.blocks[blocks_.size()].hash)
                ++wrongOldHashes_;
            blocks_.push_back({p.hash, p.size});
        }
        if (!wrote)
            return Result::WriteFailed;
        if (!read)
            return Result::ReadFailed;
        current = other;
    }
    uint64_t trailer = entry.compressedSize;
    for (const ArchivedEntry::OldBlock& block : entry.blocks)
        trailer -= block.compressedSize;
    std::vector<uint8_t>& spare = input_[0];
    if (trailer > 0 && !ended && !compressed.readExact(spare.data(), static_cast<size_t>(trailer)))
        return Result::ReadFailed;
    if (!endsStream(*workers_[0], spare.data(), static_cast<size_t>(trailer), ended))
        return Result::NotAligned;
    if (trailer > 0 && !archive.append(spare.data(), static_cast<size_t>(trailer)))
        return Result::WriteFailed;
    return crc == entry.crc ? Result::Copied : Result::CrcMismatch;
}

// The few bytes after the last block must end the stream and give nothing; when there are none,
// the last block must have ended it itself.
bool CheckedCopy::endsStream(Worker& worker, const uint8_t* trailer, size_t length, bool blocksEnded) {
    if (length == 0)
        return blocksEnded;
    bool ended = false;
    return !blocksEnded && inflateBlock(worker, trailer, length, 0, true, ended) && ended;
}

CheckedCopy::Result CheckedCopy::checkWhole(Worker& worker, const uint8_t* payload,
                                            const ArchivedEntry& entry, Block& block) {
    Piece p{0, entry.blocks[0].compressedSize, static_cast<size_t>(entry.size), true};
    checkPiece(worker, payload, p);
    if (!p.ok)
        return Result::NotAligned;
    if (!endsStream(worker, payload + p.size, static_cast<size_t>(entry.compressedSize - p.size), p.ended))
        return Result::NotAligned;
    block = {p.hash, p.size};
    return p.crc == entry.crc ? Result::Copied : Result::CrcMismatch;
}

void CheckedCopy::plan(std::vector<const ArchivedEntry*> order) {
    pool_.finish();
    plan_ = std::move(order);
    planned_ = 0;
    for (Window& window : windows_)
        window.entries.clear();
}

// Reads the payloads of the entries of a single block from plan_[from] on, as many as fit.
void CheckedCopy::readWindow(Window& window, size_t from, const RawOpener& open) {
    window.entries.clear();
    window.start = from;
    if (window.input.empty())
        window.input.resize(WindowBytes + MaxBlockBytes + MaxTrailerBytes);
    size_t used = 0;
    for (size_t i = from; i < plan_.size(); ++i) {
        const ArchivedEntry& entry = *plan_[i];
        if (entry.blocks.size() != 1 || !canCopy(entry) || used + entry.compressedSize > window.input.size())
            break;
        auto size = static_cast<size_t>(entry.compressedSize);
        std::unique_ptr<ByteSource> raw = open(entry);
        // A read that fails is left to run(), which reports it.
        bool read = raw && raw->readExact(window.input.data() + used, size);
        window.entries.push_back({used, read ? Result::Copied : Result::ReadFailed, {}});
        used += size;
    }
}

// Starts the check of a window on the helpers; any later batch of the pool finishes it first.
void CheckedCopy::startCheck(Window& window) {
    if (window.entries.empty())
        return;
    checkNext_ = [this, &window](size_t slot, size_t i) {
        Ahead& ahead = window.entries[i];
        if (ahead.result == Result::Copied)
            ahead.result = checkWhole(*workers_[slot], window.input.data() + ahead.at,
                                      *plan_[window.start + i], ahead.block);
    };
    pool_.start(window.entries.size(), checkNext_);
}

const uint8_t* CheckedCopy::checkedAhead(const ArchivedEntry& entry, const RawOpener& open) {
    auto found = std::find(plan_.begin() + static_cast<std::ptrdiff_t>(planned_), plan_.end(), &entry);
    if (found == plan_.end())
        return nullptr;
    auto at = static_cast<size_t>(found - plan_.begin());
    planned_ = at + 1;
    auto holds = [at](const Window& w) { return at >= w.start && at < w.start + w.entries.size(); };
    Window* window = &windows_[current_];
    if (!holds(*window)) {
        Window& next = windows_[1 - current_];
        if (at == next.start && holds(next)) {
            // The current window's payloads are all written: its buffer takes the window after
            // the next while the helpers still check the next.
            readWindow(*window, next.start + next.entries.size(), open);
            pool_.finish();
            startCheck(*window);
            current_ = 1 - current_;
            window = &next;
        } else {
            pool_.finish();
            readWindow(*window, at, open);
            startCheck(*window);
            pool_.finish();
            readWindow(next, window->start + window->entries.size(), open);
            startCheck(next);
        }
    }
    // An entry of several blocks: the caller copies it itself, on all threads.
    if (!holds(*window))
        return nullptr;
    const Ahead& ahead = window->entries[at - window->start];
    if (ahead.result != Result::Copied)
        return nullptr;
    blocks_.assign(1, ahead.block);
    wrongOldHashes_ = ahead.block.hash != entry.blocks[0].hash ? 1 : 0;
    return window->input.data() + ahead.at;
}

} // namespace quendle
