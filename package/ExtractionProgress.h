#pragma once
#include "archive/ExtractProgress.h"
#include "core/ProgressLine.h"
#include "util/strings/MessageIds.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

// The progress line of an extraction: the reader reports bytes, and an entry counts as done once
// the bytes of the entries before it and its own are out (the reader goes through them in the
// order given here).
class ExtractionProgress : public ExtractProgress {
  public:
    explicit ExtractionProgress(uint32_t titleId) : titleId_(titleId) {}

    // The sizes of the entries the next extraction writes, in its order.
    void expect(std::vector<uint64_t> entrySizes) { sizes_ = std::move(entrySizes); }

    void setRange(int operation, int64_t total, int reserved) override;
    void step(int64_t bytes) override;
    void finish(int operation, int reserved) override;
    bool cancelled() override { return false; }
    int reportError(int, uint32_t, int) override { return 0; }
    // Ends the line on a failure too.
    void end() { line_.end(); }

  private:
    uint32_t titleId_;
    ProgressLine line_;
    std::vector<uint64_t> sizes_;
    size_t next_ = 0;       // the first entry not done yet
    uint64_t nextEnds_ = 0; // the bytes done when it is
    uint64_t bytes_ = 0;
};

} // namespace quendle
