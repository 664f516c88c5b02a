#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace quendle {

// Writes a file front to back with direct I/O from a thread of its own. A save writes as much
// as it reads; through the page cache every byte would also be copied into a fresh page,
// accounted, and handed to writeback later, which costs the save's processors more than the
// copy into our own buffer. The writes go to the disk while the save works on the next bytes.
// Every failure is remembered with its errno and returned by the next call.
class DirectWriter {
  public:
    // Buffer addresses, file offsets and lengths of direct I/O are multiples of this.
    static constexpr size_t Alignment = 4096;
    static constexpr size_t BufferSize = 1 << 20;

    // `fd` is an empty file open for reading and writing with O_DIRECT; it stays the caller's.
    explicit DirectWriter(int fd);
    ~DirectWriter();
    DirectWriter(const DirectWriter&) = delete;
    DirectWriter& operator=(const DirectWriter&) = delete;

    bool append(const void* data, size_t length);
    // Cuts the file back to `size` bytes, which must not exceed what was appended.
    bool truncateTo(uint64_t size);
    // Writes what is left and gives the file its exact size; nothing may follow.
    bool finish();

    // Whether direct writes work for the file open as `fd` (some file systems refuse them, or
    // want other alignments); the file is left empty either way.
    static bool worksFor(int fd);

  private:
    struct Buffer;
    void writerLoop();
    bool submit(size_t length);
    bool drain();
    bool failed(int error);

    int fd_;
    std::unique_ptr<Buffer> buffers_[2];
    int current_ = 0;    // the buffer being filled
    uint64_t start_ = 0; // file offset of the current buffer's first byte (aligned)
    size_t filled_ = 0;  // bytes in the current buffer
    std::mutex mutex_;
    std::condition_variable changed_;
    int pending_ = -1; // the buffer handed to the writer thread, if any
    int error_ = 0;
    bool stopping_ = false;
    std::jthread thread_;
};

} // namespace quendle
