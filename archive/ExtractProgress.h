#pragma once
#include <cstdint>

namespace quendle {

// Progress of extracting (operation 0) or packing (operation 104).
class ExtractProgress {
  public:
    virtual ~ExtractProgress() = default;
    virtual void setRange(int operation, int64_t total, int reserved) = 0;
    virtual void finish(int operation, int reserved) = 0;
    virtual void step(int64_t count) = 0;
    virtual bool cancelled() = 0;
    virtual int reportError(int operation, uint32_t code, int reserved) = 0;
};

// The one error code the extractor reports.
constexpr uint32_t ExtractErrorCode = 4188;

} // namespace quendle
