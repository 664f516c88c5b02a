#pragma once
#include <utility>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quendle {

// An owned file descriptor, with the read and write loops every user of one needs.
// Standard output is a terminal (so colours are shown).
bool standardOutputIsTerminal();
// Standard error is a terminal (so progress may be rewritten in place and colours shown).
bool standardErrorIsTerminal();

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);
    // Closes now; false (errno set) when the last writes could not be completed or nothing was open.
    bool close();

    // Writes all `length` bytes, retrying short and interrupted writes; false with errno set
    // (ENOSPC when the system accepts nothing without saying why).
    bool writeAll(const void* data, size_t length);
    // Reads exactly `length` bytes; false at a read error (errno set) or an early end of file.
    bool readExact(void* buffer, size_t length);

    // Opens an existing file for reading; empty (errno set) when that fails.
    static UniqueFd openForReading(const std::string& path);
    // The same for a file that may be a named pipe: the open itself never stalls, and a pipe is
    // then waited on for its writer. Empty when the path cannot be opened or names a folder.
    static UniqueFd openForReadingAnyKind(const std::string& path);
    // Creates a new file (mode 0644) that must not exist yet; empty (errno set) when that fails.
    static UniqueFd createNew(const std::string& path);
    // Creates a file or empties an existing one (mode 0644); empty (errno set) when that fails.
    static UniqueFd createOrTruncate(const std::string& path);

    // Reads what is there, retrying interrupted reads: the count, 0 at the end, -1 on an error.
    long readSome(void* buffer, size_t length);
    // Reads at an offset without moving the file position: the count, or -1 on an error.
    long readAt(void* buffer, size_t length, uint64_t offset) const;
    // The size of the open file when it is a regular file; false otherwise (errno 0 when the
    // file is no regular file, else the error).
    bool regularFileSize(uint64_t& size) const;
    // Device and inode of the open file: equal for every name and link of one file.
    std::pair<uint64_t, uint64_t> fileIdentity() const;

  private:
    int fd_ = -1;
};

} // namespace quendle
