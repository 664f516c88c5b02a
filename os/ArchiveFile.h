#pragma once
#include "os/FileHandle.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quendle {

// The archive being written: append-only, its size counted as it grows so that every offset
// comes from the bytes written and never from seeking back.
class ArchiveFile {
  public:
    ArchiveFile();
    ~ArchiveFile();
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    // Creates (or truncates) the file; false (SystemError::last() tells why) when that fails.
    bool create(const std::string& path);
    bool isOpen() const { return static_cast<bool>(fd_); }
    bool append(const void* data, size_t length);
    uint64_t size() const { return size_; }
    // Drops everything after `size` bytes: an entry whose copy had to be abandoned is written
    // again in its place.
    bool truncateTo(uint64_t size);
    // Closes the file; false when the last writes could not be completed.
    bool close();

  private:
    FileHandle fd_;
    uint64_t size_ = 0;
    uint64_t writebackStarted_ = 0; // bytes handed to the writeback (Windows: to the flusher) so far
    // Where the system has no call that only starts the writeback, a helper flushes behind the
    // writer instead (nullptr where there is such a call).
    struct Flusher;
    std::unique_ptr<Flusher> flusher_;
};

} // namespace quendle
