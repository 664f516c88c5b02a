#include "os/ArchiveFile.h"
#include "os/windows/NativeHandle.h"
#include "os/windows/WindowsFileSystem.h"

#include "os/FileSystem.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quendle {

namespace {

// How much the writer gets ahead of the last flush before the helper is asked for another.
constexpr uint64_t WritebackPiece = 32 << 20;

} // namespace

// Windows has no call that only starts the writeback: FlushFileBuffers waits for it. A helper
// thread calls it behind the writer, so that the flush before the replace finds little left
// (a whole package flushed at the end costs about a quarter of a second per 500 MiB).
struct ArchiveFile::Flusher {
    explicit Flusher(HANDLE file) : file_(file), thread_([this] { loop(); }) {}
    ~Flusher() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
        ::CloseHandle(file_);
    }
    void request() {
        {
            std::lock_guard lock(mutex_);
            pending_ = true;
        }
        wake_.notify_one();
    }

  private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || pending_; });
            if (stopping_)
                return;
            pending_ = false;
            lock.unlock();
            // A failure here is found again by the final flush, which reports it.
            (void)::FlushFileBuffers(file_);
            lock.lock();
        }
    }

    HANDLE file_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false, stopping_ = false;
    std::thread thread_;
};

ArchiveFile::ArchiveFile() = default;
ArchiveFile::~ArchiveFile() = default;

bool ArchiveFile::create(const std::string& path) {
    flusher_.reset();
    // Sequential: the cache manager reads ahead and drops the pages behind the writer sooner.
    NativeHandle::reset(fd_, hostpath::openFile(path, GENERIC_WRITE, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!fd_)
        return false;
    HANDLE own = ::GetCurrentProcess(), copy = nullptr;
    // Without the helper the final flush simply does all of it.
    if (::DuplicateHandle(own, handleOf(fd_), own, &copy, GENERIC_WRITE, FALSE, 0))
        flusher_ = std::make_unique<Flusher>(copy);
    size_ = 0;
    writebackStarted_ = 0;
    return true;
}

bool ArchiveFile::append(const void* data, size_t length) {
    if (!fd_.writeAll(data, length))
        return false;
    size_ += length;
    if (flusher_ && size_ - writebackStarted_ >= WritebackPiece) {
        flusher_->request();
        writebackStarted_ = size_;
    }
    return true;
}

bool ArchiveFile::truncateTo(uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (size > size_ || !::SetFilePointerEx(handleOf(fd_), at, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(handleOf(fd_)))
        return false;
    size_ = size;
    writebackStarted_ = std::min(writebackStarted_, size);
    return true;
}

bool ArchiveFile::close() {
    flusher_.reset();
    return fd_.close();
}

} // namespace quendle
