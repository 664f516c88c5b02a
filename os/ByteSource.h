#pragma once
#include <cstddef>
#include <cstdint>

namespace quendle {

// The bytes of one entry being packed, read front to back exactly once: a host file, or an
// entry of the original archive inflated on the way.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    // Reads exactly `length` bytes; false at a read error or an early end.
    virtual bool readExact(void* buffer, size_t length) = 0;
};

} // namespace quendle
