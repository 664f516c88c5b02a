#pragma once
#include "archive/ExtractProgress.h"
#include "support/TestSupport.h"

#include <cstdint>
#include <string>

namespace quendle::test {

// Text that deflate compresses well but not trivially.
inline std::string compressibleText(size_t n) {
    std::string s;
    for (size_t k = 0; s.size() < n; ++k)
        s += "line " + std::to_string(k * 7919 % 1000) + " of the sample text\n";
    s.resize(n);
    return s;
}

inline uint16_t le16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
inline uint32_t le32(const std::string& b, size_t at) {
    return le16(b, at) | static_cast<uint32_t>(le16(b, at + 2)) << 16;
}
inline uint64_t le64(const std::string& b, size_t at) {
    return le32(b, at) | static_cast<uint64_t>(le32(b, at + 4)) << 32;
}

// What an extraction reports.
struct RecordingProgress : ExtractProgress {
    int64_t total = -1, stepped = 0;
    int finished = 0;
    std::vector<uint32_t> errors;
    void setRange(int, int64_t t, int) override { total = t; }
    void finish(int, int) override { ++finished; }
    void step(int64_t count) override { stepped += count; }
    bool cancelled() override { return false; }
    int reportError(int, uint32_t code, int) override {
        errors.push_back(code);
        return 0;
    }
};

inline std::string verifierPath() {
    return sourceDir() + "/tests/archive/verify_appv.py";
}

} // namespace quendle::test
