#pragma once
#include <cstdint>
#include <optional>

namespace quendle {

// SOURCE_DATE_EPOCH, the reproducible-builds convention: when it is set to a plain number of
// seconds since 1970, every time the program writes into a package is that time, so that the
// same edit gives the same bytes. Any other value is ignored.
std::optional<int64_t> sourceDateEpoch();

} // namespace quendle
