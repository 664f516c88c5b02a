#pragma once
#include "os/ByteSource.h"
#include "os/FileHandle.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace quendle {

// A file being packed, read front to back exactly once.
class SourceFile : public ByteSource {
  public:
    SourceFile() = default;
    ~SourceFile() override;
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Opens a regular file; false for anything else or when it cannot be read.
    bool open(const std::string& path);
    uint64_t size() const override { return size_; }
    // Last write time, seconds since the epoch (UTC).
    std::time_t modified() const { return modified_; }
    // Reads exactly `length` bytes; false at a read error or an early end of file.
    bool readExact(void* buffer, size_t length) override { return fd_.readExact(buffer, length); }

  private:
    FileHandle fd_;
    uint64_t size_ = 0;
    std::time_t modified_ = 0;
};

} // namespace quendle
