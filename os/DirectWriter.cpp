#include "os/DirectWriter.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

namespace quendle {

struct DirectWriter::Buffer {
    Buffer() : data(static_cast<uint8_t*>(std::aligned_alloc(Alignment, BufferSize))) {
        if (!data)
            throw std::bad_alloc();
    }
    ~Buffer() { std::free(data); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    uint8_t* data;
    uint64_t offset = 0;
    size_t length = 0;
};

namespace {

// 0, or the errno of the failed write. A short direct write only happens when the disk fills up,
// and the write after it then says so.
int writeFully(int fd, const uint8_t* data, size_t length, uint64_t offset) {
    while (length > 0) {
        ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        length -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return 0;
}

} // namespace

DirectWriter::DirectWriter(int fd) : fd_(fd) {
    buffers_[0] = std::make_unique<Buffer>();
    buffers_[1] = std::make_unique<Buffer>();
    thread_ = std::jthread([this] { writerLoop(); });
}

DirectWriter::~DirectWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
}

void DirectWriter::writerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || pending_ >= 0; });
        if (pending_ < 0)
            return;
        const Buffer& buffer = *buffers_[pending_];
        lock.unlock();
        int error = writeFully(fd_, buffer.data, buffer.length, buffer.offset);
        lock.lock();
        if (error && !error_)
            error_ = error;
        pending_ = -1;
        changed_.notify_all();
    }
}

bool DirectWriter::failed(int error) {
    errno = error;
    return false;
}

// Hands the current buffer (`length` bytes of it) to the writer thread and goes on with the other
// one, once the writer is done with that.
bool DirectWriter::submit(size_t length) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return pending_ < 0; });
    if (error_)
        return failed(error_);
    Buffer& buffer = *buffers_[current_];
    buffer.offset = start_;
    buffer.length = length;
    pending_ = current_;
    changed_.notify_all();
    current_ = 1 - current_;
    start_ += length;
    filled_ = 0;
    return true;
}

bool DirectWriter::drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return pending_ < 0; });
    return error_ ? failed(error_) : true;
}

bool DirectWriter::append(const void* data, size_t length) {
    const auto* from = static_cast<const uint8_t*>(data);
    while (length > 0) {
        size_t n = std::min(length, BufferSize - filled_);
        std::memcpy(buffers_[current_]->data + filled_, from, n);
        filled_ += n;
        from += n;
        length -= n;
        if (filled_ == BufferSize && !submit(BufferSize))
            return false;
    }
    return true;
}

bool DirectWriter::truncateTo(uint64_t size) {
    if (!drain())
        return false;
    if (size >= start_) {
        filled_ = static_cast<size_t>(size - start_);
        return true;
    }
    // Back into bytes already on the disk: the block that holds the new end comes back into
    // the buffer, and everything from there on is written again.
    uint64_t from = size / Alignment * Alignment;
    auto keep = static_cast<size_t>(size - from);
    if (keep > 0) {
        ssize_t n = ::pread(fd_, buffers_[current_]->data, Alignment, static_cast<off_t>(from));
        if (n < static_cast<ssize_t>(keep))
            return failed(n < 0 ? errno : EIO);
    }
    start_ = from;
    filled_ = keep;
    return true;
}

bool DirectWriter::worksFor(int fd) {
    std::unique_ptr<void, decltype(&std::free)> probe(std::aligned_alloc(Alignment, Alignment), &std::free);
    if (!probe)
        return false;
    std::memset(probe.get(), 0, Alignment);
    bool works = writeFully(fd, static_cast<const uint8_t*>(probe.get()), Alignment, 0) == 0;
    return ::ftruncate(fd, 0) == 0 && works;
}

bool DirectWriter::finish() {
    const uint64_t size = start_ + filled_;
    // The last block is written whole and the file cut back to its size.
    size_t padded = (filled_ + Alignment - 1) / Alignment * Alignment;
    std::memset(buffers_[current_]->data + filled_, 0, padded - filled_);
    if (padded > 0 && !submit(padded))
        return false;
    if (!drain())
        return false;
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 || failed(errno);
}

} // namespace quendle
