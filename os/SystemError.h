#pragma once
#include "core/Failure.h"

#include <cstdint>
#include <source_location>
#include <string>

namespace quendle {

// What the platform said about a failed call (errno on POSIX, GetLastError on Windows), as the
// one value that carries a system error out of os/. A function of os/ that answers false, -1 or
// an empty handle leaves its reason to be taken at once with SystemError::last(); no layer above
// os/ reads the platform's own error variable or compares its numbers.
class SystemError {
  public:
    // The kinds a caller above os/ decides on; everything else is Other.
    enum class Kind { None, NotFound, AlreadyExists, IsFolder, NoSpace, Other };
    // Already exists, as the platform reports it for a new file that must not exist yet.
    static SystemError alreadyExists();

    SystemError() = default;
    // The calling thread's last error, taken now.
    static SystemError last();
    // Forgets the last error, so that a later last() tells whether the system was involved at all.
    static void clear();

    bool failed() const { return code_ != 0; }
    Kind kind() const;
    // The nearest Win32 error: the exit code and the code of a WindowsException.
    uint32_t win32Code() const;
    // The system's text, worded as every other system error the program shows.
    std::string text() const;
    // The failure `id` with `args` and, as its last insert, this error's text.
    Failure failure(uint32_t id, MessageArgs args = {}) const {
        args.emplace_back(text());
        return Failure(id, std::move(args), win32Code());
    }
    // Raises it as a WindowsException.
    [[noreturn]] void raise(std::source_location where = std::source_location::current()) const;

  private:
    explicit SystemError(uint32_t code) : code_(code) {}
    uint32_t code_ = 0; // the platform's own number
};

} // namespace quendle
