#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace quendle {

// Standard output is a terminal (so colours are shown).
bool standardOutputIsTerminal();
// Standard error is a terminal (so progress may be rewritten in place and colours shown).
bool standardErrorIsTerminal();

// An owned open file or folder, with the read and write loops every user of one needs. What it
// holds is the platform's own (a descriptor, a handle) and is reached only by the platform's
// bodies in os/, through NativeHandle.
class FileHandle {
  public:
    FileHandle() = default;
    ~FileHandle() { reset(); }
    FileHandle(FileHandle&& other) noexcept : handle_(std::exchange(other.handle_, Empty)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, Empty);
        }
        return *this;
    }
    explicit operator bool() const { return handle_ != Empty; }
    // Closes it now, if anything is open.
    void reset();
    // Closes now; false (SystemError::last() tells why) when the last writes could not be completed or
    // nothing was open.
    bool close();

    // Writes all `length` bytes, retrying short and interrupted writes; false (SystemError::last()
    // tells why: no space when the system accepts nothing without saying why).
    bool writeAll(const void* data, size_t length);
    // Reads exactly `length` bytes; false at a read error (SystemError::last() tells why) or an early end
    // of file.
    bool readExact(void* buffer, size_t length);

    // Opens an existing file for reading; empty (SystemError::last() tells why) when that fails.
    static FileHandle openForReading(const std::string& path);
    // The same for a file that may be a named pipe: the open itself never stalls, and a pipe is
    // then waited on for its writer. Empty when the path cannot be opened or names a folder.
    static FileHandle openForReadingAnyKind(const std::string& path);
    // Creates a new file (mode 0644) that must not exist yet; empty (SystemError::last() tells why) when that
    // fails.
    static FileHandle createNew(const std::string& path);
    // Creates a file or empties an existing one (mode 0644); empty (SystemError::last() tells why) when that
    // fails.
    static FileHandle createOrTruncate(const std::string& path);
    // Opens a file for writing at its end, creating it (mode 0644) when missing; empty
    // (SystemError::last() tells why) when that fails.
    static FileHandle openForAppending(const std::string& path);

    // Reads what is there, retrying interrupted reads: the count, 0 at the end, -1 on an error.
    long readSome(void* buffer, size_t length);
    // Reads at an offset without moving the file position: the count, or -1 on an error.
    long readAt(void* buffer, size_t length, uint64_t offset) const;
    // The size of the open file when it is a regular file; false otherwise (SystemError::last()
    // then holds nothing when the file is no regular file, else the error).
    bool regularFileSize(uint64_t& size) const;
    // Device and inode of the open file: equal for every name and link of one file.
    std::pair<uint64_t, uint64_t> fileIdentity() const;

  private:
    friend struct NativeHandle;
    static constexpr std::intptr_t Empty = -1;
    std::intptr_t handle_ = Empty;
};

} // namespace quendle
