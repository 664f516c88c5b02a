#pragma once
#include "os/FileHandle.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quendle {

// A file read at any offset, for formats whose records point at each other (the end records of
// an archive, its central directory, its local headers). Reads never go past the end.
class RandomAccessFile {
  public:
    // False (SystemError::last() tells why) when the file cannot be opened or its size read.
    bool open(const std::string& path);
    uint64_t size() const { return size_; }
    // False at a read error or when the range does not lie inside the file.
    bool readAt(uint64_t offset, void* buffer, size_t length) const;
    // Tells the system that the bytes before `offset` will not be read again, so that their
    // cached pages go now, a few MiB at a time, instead of all at once when a replaced file is
    // finally deleted.
    void forgetBefore(uint64_t offset) const;

  private:
    FileHandle fd_;
    uint64_t size_ = 0;
    mutable uint64_t forgotten_ = 0; // advice only: not part of what the file is
};

} // namespace quendle
