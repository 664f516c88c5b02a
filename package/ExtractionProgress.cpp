#include "package/ExtractionProgress.h"

#include "util/strings/StringTable.h"

namespace quendle {

void ExtractionProgress::setRange(int, int64_t total, int) {
    next_ = 0;
    bytes_ = 0;
    nextEnds_ = sizes_.empty() ? 0 : sizes_[0];
    line_.begin(loadString(titleId_), sizes_.size(), total > 0 ? static_cast<uint64_t>(total) : 0);
}

void ExtractionProgress::step(int64_t bytes) {
    if (bytes < 0)
        return;
    bytes_ += static_cast<uint64_t>(bytes);
    uint64_t entries = 0;
    while (next_ < sizes_.size() && bytes_ >= nextEnds_) {
        ++entries;
        if (++next_ < sizes_.size())
            nextEnds_ += sizes_[next_];
    }
    line_.advance(entries, static_cast<uint64_t>(bytes));
}

void ExtractionProgress::finish(int, int) {
    // Empty entries at the end get no bytes of their own.
    line_.advance(sizes_.size() - next_, 0);
    next_ = sizes_.size();
    line_.end();
}

} // namespace quendle
