#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quendle {

// A read-only private mapping of a whole file: pages are read when touched, and a reader that
// walks the file once can give back those it has passed, so memory follows what is in use.
class MappedFile {
  public:
    enum Result { Opened, OpenFailed, NotAFile, MapFailed }; // SystemError::last() tells more after a failure

    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Opened through the file-system rules (no link followed below the workspace).
    Result open(const std::string& path);
    std::span<const uint8_t> bytes() const { return {data_, size_}; }
    // Drops the whole pages of a range from memory; touching them again reads the file again.
    void release(const uint8_t* from, size_t length) const;

  private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace quendle
