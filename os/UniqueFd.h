#pragma once
#include <cstddef>

namespace quendle {

// An owned file descriptor, with the read and write loops every user of one needs.
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

  private:
    int fd_ = -1;
};

} // namespace quendle
