#pragma once
#include "core/Exception.h"

#include <cstdint>
#include <source_location>
#include <string>

namespace quendle {

// A failure of the offline registry layer. Its message is the system's text for the Win32
// error, as the offline registry library reports it; the error number and what the hive
// engine found wrong stay available for diagnostics and tests.
class OfflineRegException : public Exception {
  public:
    explicit OfflineRegException(uint32_t win32Error, std::string detail = {},
                                 std::source_location where = std::source_location::current());

    [[noreturn]] void Throw() const override { throw *this; }
    std::unique_ptr<IException> Clone(bool withStackTrace) const override;

    uint32_t win32Error() const { return win32Error_; }
    const std::string& detail() const { return detail_; }

  private:
    uint32_t win32Error_;
    std::string detail_;
};

// The message id of an operation on a hive or key that is not open, and its text.
constexpr uint32_t HiveNotOpenMessageId = 5670;
inline constexpr const char* HiveNotOpenText = "The registry hive or key is not open.";

} // namespace quendle
