#include "xml/VersionNumber.h"

namespace quendle {

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
constexpr int32_t LastSafeValue = 214748364; // one more digit could overflow 32 bits
constexpr int32_t FieldLimit = 65535;
} // namespace

void VersionNumber::Parse(std::string_view text) {
    components_ = {};
    count_ = 0;
    size_t pos = 0;
    while (count_ < 4) {
        while (pos < text.size() && !isDigit(text[pos]))
            ++pos;
        if (pos >= text.size())
            break;
        int32_t value = 0;
        for (; pos < text.size() && isDigit(text[pos]); ++pos) {
            if (value > LastSafeValue) {
                components_ = {};
                count_ = 0;
                return;
            }
            value = value * 10 + (text[pos] - '0');
        }
        components_[static_cast<size_t>(count_++)] = value;
    }
}

void VersionNumber::Increment() {
    ++components_[3];
    if (count_ < 4)
        count_ = 4;
    for (size_t i = 3; i > 0; --i) {
        if (components_[i] > FieldLimit) {
            components_[i] = 0;
            ++components_[i - 1];
        }
    }
}

std::string VersionNumber::ToString() const {
    int last = -1;
    for (int i = 3; i >= 0; --i) {
        int32_t c = components_[static_cast<size_t>(i)];
        // Only zeros may go: a dropped 65535 would read back as 0, a lower version.
        if (c != 0) {
            last = i;
            break;
        }
    }
    if (last < 0)
        return "0.0.0.0";
    if (last < 1)
        last = 1;
    std::string out;
    for (int i = 0; i <= last; ++i) {
        if (i)
            out += '.';
        out += std::to_string(components_[static_cast<size_t>(i)]);
    }
    return out;
}

} // namespace quendle
